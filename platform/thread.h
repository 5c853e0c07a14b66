// SPDX-License-Identifier: MIT
// Worker threads that hand their results to the main thread and wait while it takes them.
//
// A thread is created suspended on the main thread, started once with Resume, and polls
// Terminated at points of its own choosing. Synchronize runs a call on the main thread
// (through the application's event loop) while the worker waits for it to return.
//
// Nobody has to wait for a worker. A worker whose receiver is destroyed first is detached:
// the receiver owns a TSyncTarget, and a call that reaches the main thread after the
// target is gone is dropped and its worker terminated. ShutdownAll ends every worker
// before the application object goes away; it never waits on a worker that is itself
// waiting for the main thread, since it refuses such calls first.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stop_token>

namespace pix {

// The lifetime of an object on the main thread that workers call into. Create and destroy
// it on the main thread.
class TSyncTarget {
public:
    TSyncTarget() : FToken(std::make_shared<char>()) {}
    TSyncTarget(const TSyncTarget&) = delete;
    TSyncTarget& operator=(const TSyncTarget&) = delete;

    std::weak_ptr<void> Token() const { return FToken; }

private:
    std::shared_ptr<char> FToken;
};

class TThread {
public:
    // Always created suspended; create threads on the main thread.
    TThread();
    // The owner of a thread that is not freed by itself calls Terminate and WaitFor before
    // destroying it: by the time this destructor runs, the derived object the body uses is
    // gone. As a last guard it still terminates a running body and waits for it.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the body on a thread of its own; later calls do nothing.
    void Resume();
    // Asks the body to end at its next check; any thread may call it. A load the body
    // runs with StopToken() ends at its next row instead of finishing the picture.
    void Terminate() { FStop.request_stop(); }
    bool Terminated() const { return FStop.stop_requested(); }
    std::stop_token StopToken() const { return FStop.get_token(); }
    // Requested only by ShutdownAll: work that a plain Terminate lets finish (such as a
    // file being written from what was done so far) is abandoned when the program ends.
    bool ShuttingDown() const { return FShutdown.stop_requested(); }
    std::stop_token ShutdownToken() const { return FShutdown.get_token(); }

    // The thread deletes itself when its body has ended. Set before Resume.
    bool FreeOnTerminate = false;
    // Called through Synchronize once the body has ended, before a free-on-terminate
    // thread deletes itself.
    std::function<void(TThread& sender)> OnTerminate;
    // The receiver of the synchronized calls; without one the calls always run.
    void SetSyncTarget(const TSyncTarget& target) {
        FTarget = target.Token();
        FHasTarget = true;
    }

    // Waits until the body has returned (not for free-on-terminate threads). On the main
    // thread the application's events keep being processed, so that the body's
    // synchronized calls still run.
    void WaitFor();
    // Terminates the body, refuses its pending and later synchronized calls, and waits for it
    // to end without running the application's events, so that no other work of the main
    // thread runs meanwhile. For an owner whose body must never reach it again; wake a body
    // that blocks in a wait of its own first. Not for free-on-terminate threads.
    void StopAndWait();

    // Terminates every thread, requests its ShutdownToken, refuses their pending and later
    // synchronized calls, and waits up to timeoutMs for their bodies to end. True when none
    // is left running.
    // Call it on the main thread before the application object is destroyed.
    static bool ShutdownAll(int timeoutMs);
    // Terminates every thread and refuses their synchronized calls as ShutdownAll does, but
    // leaves their ShutdownToken alone, so that work a plain Terminate lets finish does
    // finish; waits up to timeoutMs for their bodies to end. True when none is left running.
    // The program's end calls it first and ShutdownAll after it for what is left.
    static bool FinishAll(int timeoutMs);
    // Bodies that have started and not yet ended, except watchers.
    static int RunningCount();
    // A watcher runs as long as its owner lives (a change monitor): it does not count as
    // work in progress for RunningCount. ShutdownAll and FinishAll end it like any other.
    // Set before Resume.
    bool Watcher = false;

    // Where an exception that leaves a body (or an OnTerminate handler) goes: a handler
    // that runs on the main thread. Without one, or without an application, the message is
    // written to standard error.
    using TExceptionReport = std::function<void(const TThread& sender, std::exception_ptr error)>;
    static void SetExceptionReport(TExceptionReport report);

    // One synchronized call on its way; the source defines it.
    struct TTicket;

protected:
    virtual void Execute() = 0;

    // Runs `method` on the main thread while this thread waits for it. An exception thrown
    // by `method` is rethrown here. Returns false, and terminates this thread, when the
    // call could not run: no application exists, the program is shutting down, or the sync
    // target is gone. Called on the main thread itself, it runs the method at once.
    bool Synchronize(const std::function<void()>& method);

private:
    void Run();
    void Report(std::exception_ptr error);

    std::stop_source FStop;
    std::stop_source FShutdown;
    bool FStarted = false;
    bool FHasTarget = false;
    std::weak_ptr<void> FTarget;
    // Guarded by the registry's lock.
    bool FFinished = false;
    bool FRefused = false;
    std::shared_ptr<TTicket> FTicket;
};

// A number of bytes that workers share, such as the memory that may be held at once.
// A worker reserves what it will hold before it takes it and gives it back through the
// reservation's end. Requests are served in order; one that does not fit waits until
// enough is given back, and one larger than the whole budget waits until no other
// reservation is held, so it runs alone instead of never.
class TByteBudget {
public:
    // The capacity is asked for at each request, so a limit that changes is followed.
    explicit TByteBudget(std::function<std::int64_t()> capacity);
    TByteBudget(const TByteBudget&) = delete;
    TByteBudget& operator=(const TByteBudget&) = delete;

    // Bytes held until destroyed (or moved from). An empty one holds nothing.
    class TReservation {
    public:
        TReservation() = default;
        TReservation(TReservation&& other) noexcept;
        TReservation& operator=(TReservation&& other) noexcept;
        ~TReservation();
        bool Held() const { return FBudget != nullptr; }
        std::int64_t Bytes() const { return FBytes; }

    private:
        friend class TByteBudget;
        TReservation(TByteBudget* budget, std::int64_t bytes, bool waits)
            : FBudget(budget), FBytes(bytes), FWaits(waits) {}
        void Release() noexcept;
        TByteBudget* FBudget = nullptr;
        std::int64_t FBytes = 0;
        bool FWaits = false;
    };

    // Waits for `bytes` as described above. Gives an empty reservation when a stop is
    // requested through `stop` first.
    TReservation Reserve(std::int64_t bytes, std::stop_token stop = {});
    // `bytes` at once when no request waits and they fit beside what is held, else an
    // empty reservation: for a holder that finds it needs more than it asked for.
    TReservation TryReserve(std::int64_t bytes);
    // Counts bytes that are already held, at once: they leave less room for others, but a
    // request that waits for no other reservation does not wait for these.
    TReservation Charge(std::int64_t bytes);
    // What all reservations hold now.
    std::int64_t Reserved() const;

private:
    void Give(std::int64_t bytes, bool waits) noexcept;

    struct TState;
    std::shared_ptr<TState> FState;
};

}  // namespace pix
