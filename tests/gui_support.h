// SPDX-License-Identifier: MIT
// For widget tests: one QApplication for the test program, on the offscreen platform unless
// another is chosen.
#pragma once

#include <QApplication>

#include <cstdlib>

namespace pix::test {

inline void EnsureGuiApplication() {
    if (QApplication::instance() != nullptr) return;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "pixorama_tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at program exit Qt's input devices go away before function-local
    // statics, and an application destroyed after them would read the list they were in.
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

}  // namespace pix::test
