// SPDX-License-Identifier: MIT
// A request to stop from outside the program (Ctrl+C at its terminal, the session or a
// service manager ending it) turned into a call on the main thread, so that the program
// ends through its normal shutdown instead of dying where it stands.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace pix {

// While it lives, SIGINT and SIGTERM no longer end the process: each calls OnStop on the
// thread that made the object, from its event loop. The signal handler only writes a byte
// to a pipe, which is all that a handler may safely do. One object at a time: a second
// one stays inactive. The previous handlers come back when the object goes.
class TSignalNotifier : public QObject {
public:
    explicit TSignalNotifier(std::function<void()> onStop, QObject* parent = nullptr);
    ~TSignalNotifier() override;
    TSignalNotifier(const TSignalNotifier&) = delete;
    TSignalNotifier& operator=(const TSignalNotifier&) = delete;

    // False when the pipe or the handlers could not be made; the signals then act as usual.
    bool Active() const { return FNotifier != nullptr; }

private:
    void PipeReadable();

    std::function<void()> FOnStop;
    QSocketNotifier* FNotifier = nullptr;  // a child of this object
    int FReadFd = -1;
};

}  // namespace pix
