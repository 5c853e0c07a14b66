// SPDX-License-Identifier: MIT
#include "platform/signals.h"

#include "platform/error.h"
#include "platform/res_strings.h"

#include <QObject>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace pix {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};

// The pipe's write end for the signal handler; -1 while no object lives.
std::atomic<int> gWriteEnd{-1};

extern "C" void OnTerminationSignal(int signal) {
    const int saved = errno;
    const int fd = gWriteEnd.load();
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a request; the number is then dropped.
    if (fd >= 0) (void)!write(fd, &byte, 1);
    errno = saved;
}

}  // namespace

struct TTerminationSignals::TState {
    std::function<void(int)> Handler;
    int Pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> Notifier;
    struct sigaction Previous[std::size(kSignals)] = {};
};

TTerminationSignals::TTerminationSignals(std::function<void(int signal)> handler)
    : FState(std::make_unique<TState>()) {
    TState& state = *FState;
    state.Handler = std::move(handler);
    if (pipe2(state.Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw EOSError(SErrCreatePipe, errno, errno);
    gWriteEnd = state.Pipe[1];
    state.Notifier = std::make_unique<QSocketNotifier>(state.Pipe[0], QSocketNotifier::Read);
    QObject::connect(state.Notifier.get(), &QSocketNotifier::activated, [&state] {
        unsigned char numbers[16];
        ssize_t count;
        while ((count = read(state.Pipe[0], numbers, sizeof numbers)) > 0) {
            for (ssize_t i = 0; i < count; ++i)
                if (state.Handler) state.Handler(numbers[i]);
        }
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &action, &state.Previous[i]);
}

TTerminationSignals::~TTerminationSignals() {
    TState& state = *FState;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &state.Previous[i], nullptr);
    gWriteEnd = -1;
    state.Notifier.reset();
    close(state.Pipe[0]);
    close(state.Pipe[1]);
}

}  // namespace pix
