// SPDX-License-Identifier: MIT
#include "platform/thread.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace pix {
namespace {

// The object on the main thread that synchronized calls are posted to. It is a child of
// the application, so it goes away with it; its destructor clears the pointer under the
// registry's lock, and Qt then deletes the calls still queued for it, which refuses them.
class TDispatcher : public QObject {
public:
    using QObject::QObject;
    ~TDispatcher() override;
};

struct TRegistry {
    std::mutex Lock;
    std::condition_variable Changed;
    std::set<TThread*> Threads;
    int Running = 0;
    int RunningWatchers = 0;
    TDispatcher* Dispatcher = nullptr;
    TThread::TExceptionReport Report;
};

TRegistry& Registry() {
    // Never destroyed: a detached worker may still finish after static destruction began.
    static TRegistry* registry = new TRegistry;
    return *registry;
}

TDispatcher::~TDispatcher() {
    std::lock_guard lock(Registry().Lock);
    if (Registry().Dispatcher == this) Registry().Dispatcher = nullptr;
}

bool OnMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void WriteToStderr(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Unknown exception in a worker thread\n");
    }
}

}  // namespace

// One synchronized call: the worker waits until the main thread has run it or refused it.
struct TThread::TTicket {
    enum TState { Pending, Done, Refused };
    std::mutex Lock;
    std::condition_variable Finished;
    TState State = Pending;
    std::exception_ptr Error;

    void Finish(TState state, std::exception_ptr error = {}) {
        {
            std::lock_guard lock(Lock);
            if (State != Pending) return;
            State = state;
            Error = std::move(error);
        }
        Finished.notify_all();
    }
    bool IsPending() {
        std::lock_guard lock(Lock);
        return State == Pending;
    }
};

namespace {

// What travels through the event queue. Destroying it unrun (the dispatcher or the
// application went away) refuses the ticket, so the worker never waits for ever.
struct TQueuedCall {
    std::shared_ptr<TThread::TTicket> Ticket;
    std::function<void()> Method;
    std::weak_ptr<void> Target;
    bool HasTarget = false;

    ~TQueuedCall() { Ticket->Finish(TThread::TTicket::Refused); }

    void Run() {
        if (!Ticket->IsPending()) return;  // refused by a shutdown meanwhile
        if (HasTarget && Target.expired()) {
            Ticket->Finish(TThread::TTicket::Refused);
            return;
        }
        std::exception_ptr error;
        try {
            Method();
        } catch (...) {
            error = std::current_exception();
        }
        // Finished only once the handler has left its catch block, so the worker is the
        // only one left to touch the exception.
        Ticket->Finish(TThread::TTicket::Done, std::move(error));
    }
};

}  // namespace

TThread::TThread() {
    TRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    registry.Threads.insert(this);
    // The dispatcher must live on the main thread, so only a thread made there creates it.
    if (registry.Dispatcher == nullptr && OnMainThread()) {
        registry.Dispatcher = new TDispatcher(QCoreApplication::instance());  // app owns it
    }
}

TThread::~TThread() {
    bool running;
    {
        std::lock_guard lock(Registry().Lock);
        running = FStarted && !FFinished;
    }
    // A free-on-terminate thread deletes itself after its body, so only an owner's delete
    // of a running thread gets here with `running` set.
    if (running && !FreeOnTerminate) {
        Terminate();
        WaitFor();
    }
    TRegistry& registry = Registry();
    std::lock_guard lock(registry.Lock);
    registry.Threads.erase(this);
}

void TThread::Resume() {
    TRegistry& registry = Registry();
    {
        std::lock_guard lock(registry.Lock);
        if (FStarted) return;
        FStarted = true;
        ++registry.Running;
        if (Watcher) ++registry.RunningWatchers;
    }
    try {
        std::thread([this] { Run(); }).detach();
    } catch (...) {
        // No thread could be made (the system's limit): the body never runs.
        {
            std::lock_guard lock(registry.Lock);
            --registry.Running;
            if (Watcher) --registry.RunningWatchers;
            FFinished = true;
        }
        registry.Changed.notify_all();
        throw;
    }
}

void TThread::Run() {
    try {
        Execute();
    } catch (...) {
        Report(std::current_exception());
    }
    if (OnTerminate) {
        try {
            Synchronize([this] { OnTerminate(*this); });
        } catch (...) {
            Report(std::current_exception());
        }
    }
    Terminate();
    const bool freeIt = FreeOnTerminate;
    const bool watcher = Watcher;
    TRegistry& registry = Registry();
    if (freeIt) {
        delete this;  // the object was handed to the thread, which frees it as it ends
    } else {
        std::lock_guard lock(registry.Lock);
        FFinished = true;
    }
    // Nothing of the object may be touched from here on: its owner may free it at once.
    {
        std::lock_guard lock(registry.Lock);
        --registry.Running;
        if (watcher) --registry.RunningWatchers;
    }
    registry.Changed.notify_all();
}

void TThread::Report(std::exception_ptr error) {
    TExceptionReport report;
    {
        std::lock_guard lock(Registry().Lock);
        report = Registry().Report;
    }
    bool shown = false;
    if (report) {
        try {
            shown = Synchronize([&] { report(*this, error); });
        } catch (...) {
            shown = false;
        }
    }
    if (!shown) WriteToStderr(error);
}

bool TThread::Synchronize(const std::function<void()>& method) {
    if (OnMainThread()) {
        if (FHasTarget && FTarget.expired()) {
            Terminate();
            return false;
        }
        method();
        return true;
    }
    auto ticket = std::make_shared<TTicket>();
    TRegistry& registry = Registry();
    {
        std::lock_guard lock(registry.Lock);
        if (FRefused || registry.Dispatcher == nullptr) {
            Terminate();
            return false;
        }
        FTicket = ticket;
        // Qt 6 wants a copyable functor; the call itself lives once, behind a shared_ptr.
        auto call = std::make_shared<TQueuedCall>();
        call->Ticket = ticket;
        call->Method = method;
        call->Target = FTarget;
        call->HasTarget = FHasTarget;
        // The dispatcher cannot be destroyed while the lock is held.
        QMetaObject::invokeMethod(
            registry.Dispatcher,
            [call] {
                // Qt's event queue hands the call over under locks that the thread
                // sanitizer cannot see; taking the lock the poster held orders this run
                // after the post for it as well.
                { std::lock_guard order(Registry().Lock); }
                call->Run();
            },
            Qt::QueuedConnection);
    }
    TTicket::TState state;
    std::exception_ptr error;
    {
        std::unique_lock lock(ticket->Lock);
        ticket->Finished.wait(lock, [&] { return ticket->State != TTicket::Pending; });
        state = ticket->State;
        // The exception leaves the ticket, which the main thread may still hold: it is
        // then released on this thread only, where it is rethrown.
        error = std::move(ticket->Error);
    }
    {
        std::lock_guard lock(registry.Lock);
        FTicket.reset();
    }
    if (state == TTicket::Refused) {
        Terminate();
        return false;
    }
    if (error) std::rethrow_exception(error);
    return true;
}

void TThread::WaitFor() {
    TRegistry& registry = Registry();
    const bool mainThread = OnMainThread();
    std::unique_lock lock(registry.Lock);
    while (FStarted && !FFinished) {
        if (mainThread) {
            // The body may be waiting for a synchronized call: let it run.
            lock.unlock();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            lock.lock();
            registry.Changed.wait_for(lock, std::chrono::milliseconds(1));
        } else {
            registry.Changed.wait(lock);
        }
    }
}

void TThread::StopAndWait() {
    TRegistry& registry = Registry();
    std::unique_lock lock(registry.Lock);
    Terminate();
    FRefused = true;
    if (FTicket) FTicket->Finish(TTicket::Refused);
    // Every synchronized call is refused from now on, so the body never waits for this
    // thread and a plain wait cannot deadlock.
    registry.Changed.wait(lock, [&] { return !FStarted || FFinished; });
}

bool TThread::ShutdownAll(int timeoutMs) {
    TRegistry& registry = Registry();
    std::unique_lock lock(registry.Lock);
    for (TThread* thread : registry.Threads) {
        thread->FShutdown.request_stop();
        thread->Terminate();
        thread->FRefused = true;
        if (thread->FTicket) thread->FTicket->Finish(TTicket::Refused);
    }
    return registry.Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return registry.Running == 0; });
}

bool TThread::FinishAll(int timeoutMs) {
    TRegistry& registry = Registry();
    std::unique_lock lock(registry.Lock);
    for (TThread* thread : registry.Threads) {
        thread->Terminate();
        thread->FRefused = true;
        if (thread->FTicket) thread->FTicket->Finish(TTicket::Refused);
    }
    return registry.Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return registry.Running == 0; });
}

int TThread::RunningCount() {
    std::lock_guard lock(Registry().Lock);
    return Registry().Running - Registry().RunningWatchers;
}

void TThread::SetExceptionReport(TExceptionReport report) {
    std::lock_guard lock(Registry().Lock);
    Registry().Report = std::move(report);
}

// ---------------------------------------------------------------------------------------
// TByteBudget

struct TByteBudget::TState {
    std::function<std::int64_t()> Capacity;
    mutable std::mutex Lock;
    std::condition_variable_any Changed;
    std::int64_t Reserved = 0;
    int Waiters = 0;  // reservations of Reserve that are held
    // Tickets in the order of the requests; the one at FServing is the next to be served,
    // and tickets given up while waiting are skipped.
    std::uint64_t NextTicket = 0;
    std::uint64_t Serving = 0;
    std::set<std::uint64_t> GivenUp;

    void Advance() {
        ++Serving;
        while (GivenUp.erase(Serving) != 0) ++Serving;
    }
};

TByteBudget::TByteBudget(std::function<std::int64_t()> capacity)
    : FState(std::make_shared<TState>()) {
    FState->Capacity = std::move(capacity);
}

TByteBudget::TReservation TByteBudget::Reserve(std::int64_t bytes, std::stop_token stop) {
    TState& state = *FState;
    std::unique_lock lock(state.Lock);
    const std::uint64_t ticket = state.NextTicket++;
    const bool served = state.Changed.wait(lock, stop, [&] {
        return ticket == state.Serving &&
               (state.Waiters == 0 || state.Reserved + bytes <= state.Capacity());
    });
    if (!served) {
        if (ticket == state.Serving)
            state.Advance();
        else
            state.GivenUp.insert(ticket);
        lock.unlock();
        state.Changed.notify_all();
        return {};
    }
    state.Reserved += bytes;
    ++state.Waiters;
    state.Advance();
    lock.unlock();
    state.Changed.notify_all();
    return TReservation(this, bytes, true);
}

TByteBudget::TReservation TByteBudget::TryReserve(std::int64_t bytes) {
    std::lock_guard lock(FState->Lock);
    if (FState->Serving != FState->NextTicket || FState->Reserved + bytes > FState->Capacity())
        return {};
    FState->Reserved += bytes;
    return TReservation(this, bytes, false);
}

TByteBudget::TReservation TByteBudget::Charge(std::int64_t bytes) {
    std::lock_guard lock(FState->Lock);
    FState->Reserved += bytes;
    return TReservation(this, bytes, false);
}

std::int64_t TByteBudget::Reserved() const {
    std::lock_guard lock(FState->Lock);
    return FState->Reserved;
}

void TByteBudget::Give(std::int64_t bytes, bool waits) noexcept {
    {
        std::lock_guard lock(FState->Lock);
        FState->Reserved -= bytes;
        if (waits) --FState->Waiters;
    }
    FState->Changed.notify_all();
}

TByteBudget::TReservation::TReservation(TReservation&& other) noexcept
    : FBudget(std::exchange(other.FBudget, nullptr)), FBytes(other.FBytes), FWaits(other.FWaits) {}

TByteBudget::TReservation& TByteBudget::TReservation::operator=(TReservation&& other) noexcept {
    if (this != &other) {
        Release();
        FBudget = std::exchange(other.FBudget, nullptr);
        FBytes = other.FBytes;
        FWaits = other.FWaits;
    }
    return *this;
}

TByteBudget::TReservation::~TReservation() { Release(); }

void TByteBudget::TReservation::Release() noexcept {
    if (FBudget != nullptr) std::exchange(FBudget, nullptr)->Give(FBytes, FWaits);
}

}  // namespace pix
