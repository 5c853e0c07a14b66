// SPDX-License-Identifier: MIT
// For tests of worker threads: an application object on the main thread, whose event queue
// carries the synchronized calls, and waiting for a condition while its events run.
#pragma once

#include "platform/thread.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <thread>

namespace pix::test {

// Makes the program's application object once; it lives to the end of the program, since
// the threads' call dispatcher hangs off it.
inline void EnsureApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "pixorama_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

// Processes the main thread's events until `done` holds; false after the timeout, so that a
// hang fails the test instead of stopping the run.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline bool AllThreadsEnded() {
    return WaitUntil([] { return TThread::RunningCount() == 0; });
}

}  // namespace pix::test
