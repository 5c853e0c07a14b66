// SPDX-License-Identifier: MIT
// The requests to end the program that arrive as signals (SIGINT, SIGTERM), handed to the
// main thread's event loop as an ordinary call.
#pragma once

#include <functional>
#include <memory>

namespace pix {

// While an object lives, SIGINT and SIGTERM no longer end the process: each one that
// arrives calls `handler` with the signal's number on the thread that made the object,
// from its event loop (the application object must exist, and the loop must run for the
// call to come). The signal handler itself only writes the number into a pipe, which is
// all a signal handler may safely do. One object at a time; destroying it restores the
// earlier dispositions.
//
//     TTerminationSignals termination([&](int) { thread->Terminate(); });
class TTerminationSignals {
public:
    explicit TTerminationSignals(std::function<void(int signal)> handler);
    ~TTerminationSignals();
    TTerminationSignals(const TTerminationSignals&) = delete;
    TTerminationSignals& operator=(const TTerminationSignals&) = delete;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

}  // namespace pix
