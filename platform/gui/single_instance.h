// SPDX-License-Identifier: MIT
// The rule that only one instance of the program runs per user: the first start holds a
// lock and answers on a local socket; a later start asks it to come forward (handing over
// an argument, such as a file to open, when it has one) and ends.
#pragma once

#include <QLocalServer>
#include <QPointer>

#include <functional>
#include <string>

class QWindow;

namespace pix {

// How long a later start waits for the running instance in all, in milliseconds: for its
// socket to appear (it may still be building its window) and for its answers.
inline constexpr int kActivationTimeoutMs = 3000;

// Brings the program forward on a request from a later start: the open modal dialog when
// there is one, else the main window; a minimized window is restored first.
void BringApplicationForward(QWindow* mainWindow);

// Construct early, before any window. The lock is an advisory lock on a file, which the
// system releases when its holder ends in any way, so a crashed instance never blocks the
// next start; it lives as long as the object.
class TSingleInstance {
public:
    // `argument`, when not empty, goes to the running instance with the request to come
    // forward; it may hold any bytes but a NUL.
    explicit TSingleInstance(const std::string& name = "Mutex_PIXORAMA_10",
                             const std::string& titlePrefix = "Pixorama",
                             std::string argument = {});
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // False when another instance runs; it has then been asked to come forward already.
    // True also when no lock could be made at all: the program then runs without the rule.
    bool IsFirst() const { return FFirst; }
    // For a later start: find the running instance, check that its title begins with the
    // title prefix (without regard to case) and ask it to come forward. Waits at most
    // kActivationTimeoutMs in all and only once per object; a later call does nothing.
    void ActivateRunning();
    // For the first instance, once the application object exists: answer requests on the
    // main thread's event loop. title gives the application title, bringForward is run on
    // the main thread when a later start asks (BringApplicationForward does what it should).
    void Serve(std::function<std::string()> title, std::function<void()> bringForward);
    // The same, with the argument the later start handed over (empty when it gave none)
    // passed to `request`.
    void Serve(std::function<std::string()> title,
               std::function<void(const std::string& argument)> request);

    // The lock file and the socket, both in the user's runtime folder (or a per-user name in
    // the temporary folder when there is none).
    const std::string& LockFileName() const { return FLockFile; }
    const std::string& SocketName() const { return FSocket; }

private:
    std::string FTitlePrefix;
    std::string FLockFile;
    std::string FSocket;
    int FLockFd = -1;                // the open lock file while this instance holds the lock
    QPointer<QLocalServer> FServer;  // owned by the application object
    std::function<std::string()> FTitle;
    std::string FArgument;
    std::function<void(const std::string&)> FRequest;
    bool FFirst = true;
    bool FActivated = false;
};

// The path of a per-user file (a lock, a socket) called `name` + `ending`: in the user's
// runtime folder, or, when there is none, in the temporary folder with the user id added to
// the name. A "/" in the name becomes "_".
std::string UserRuntimePath(const std::string& name, const std::string& ending);

// True when title begins with prefix, letters compared without regard to ASCII case.
bool TitleMatches(const std::string& title, const std::string& prefix);

}  // namespace pix
