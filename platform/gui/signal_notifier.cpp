// SPDX-License-Identifier: MIT
#include "platform/gui/signal_notifier.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>
#include <utility>

namespace pix {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

// The pipe's write end while a notifier lives, else -1. A lock-free atomic is safe to read
// in a signal handler.
std::atomic<int> gWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction gPrevious[std::size(kStopSignals)];

extern "C" void StopSignalHandler(int) {
    const int savedErrno = errno;
    const int fd = gWriteFd.load();
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already holds a request, so a byte that does not fit is not missed.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

TSignalNotifier::TSignalNotifier(std::function<void()> onStop, QObject* parent)
    : QObject(parent), FOnStop(std::move(onStop)) {
    int fds[2];
    if (gWriteFd.load() >= 0 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    FReadFd = fds[0];
    gWriteFd.store(fds[1]);
    struct sigaction action {};
    action.sa_handler = StopSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &action, &gPrevious[i]);
    FNotifier = new QSocketNotifier(FReadFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { PipeReadable(); });
}

TSignalNotifier::~TSignalNotifier() {
    if (FNotifier == nullptr) return;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &gPrevious[i], nullptr);
    delete FNotifier;
    const int writeFd = gWriteFd.exchange(-1);
    ::close(writeFd);
    ::close(FReadFd);
}

void TSignalNotifier::PipeReadable() {
    // Several signals before the event loop came round ask for one stop.
    char bytes[64];
    bool any = false;
    while (::read(FReadFd, bytes, sizeof bytes) > 0) any = true;
    if (any && FOnStop) FOnStop();
}

}  // namespace pix
