// SPDX-License-Identifier: MIT
#include "platform/thread.h"

#include "thread_support.h"

#include "platform/error.h"
#include "platform/signals.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace pix {
namespace {

using namespace std::chrono_literals;

using test::AllThreadsEnded;
using test::WaitUntil;

// A thread whose body is a function, with Synchronize open to it and to the tests.
class TFnThread : public TThread {
public:
    explicit TFnThread(std::function<void(TFnThread&)> body,
                       std::shared_ptr<std::atomic<bool>> destroyed = {})
        : FBody(std::move(body)), FDestroyed(std::move(destroyed)) {}
    ~TFnThread() override {
        if (FDestroyed) *FDestroyed = true;
    }
    bool Sync(const std::function<void()>& method) { return Synchronize(method); }

protected:
    void Execute() override { FBody(*this); }

private:
    std::function<void(TFnThread&)> FBody;
    std::shared_ptr<std::atomic<bool>> FDestroyed;
};

class ThreadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureApplication(); }
    void TearDown() override {
        EXPECT_TRUE(AllThreadsEnded()) << "a thread was still running";
        TThread::SetExceptionReport({});
    }
};

TEST_F(ThreadTest, SynchronizedCallsRunOnTheMainThreadWhileTheWorkerWaits) {
    const auto mainId = std::this_thread::get_id();
    struct TState {
        std::vector<std::thread::id> Ran;
        int Value = 0;
        std::vector<int> SeenByWorker;
        std::atomic<bool> Ended{false};
    };
    auto state = std::make_shared<TState>();
    TFnThread thread([state](TFnThread& self) {
        for (int i = 1; i <= 3; ++i) {
            const bool ran = self.Sync([&] {
                state->Ran.push_back(std::this_thread::get_id());
                state->Value = i * 10;
            });
            EXPECT_TRUE(ran);
            // The worker went on only after the method had returned.
            state->SeenByWorker.push_back(state->Value);
        }
    });
    thread.OnTerminate = [state](TThread&) { state->Ended = true; };
    thread.Resume();
    thread.Resume();  // a second start does nothing
    ASSERT_TRUE(WaitUntil([&] { return state->Ended.load(); }));
    thread.WaitFor();
    ASSERT_EQ(state->Ran.size(), 3u);
    for (const auto id : state->Ran) EXPECT_EQ(id, mainId);
    EXPECT_EQ(state->SeenByWorker, (std::vector<int>{10, 20, 30}));
    EXPECT_TRUE(thread.Terminated());  // marked once its body has ended
}

TEST_F(ThreadTest, CalledOnTheMainThreadSynchronizeRunsAtOnce) {
    TFnThread thread([](TFnThread&) {});
    bool ran = false;
    EXPECT_TRUE(thread.Sync([&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_THROW(thread.Sync([] { throw EPixError("inline"); }), EPixError);
    // With its target gone it refuses, there too.
    auto target = std::make_unique<TSyncTarget>();
    thread.SetSyncTarget(*target);
    target.reset();
    ran = false;
    EXPECT_FALSE(thread.Sync([&] { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_TRUE(thread.Terminated());
}

TEST_F(ThreadTest, ExceptionOfTheSynchronizedMethodIsRethrownInTheWorker) {
    auto caught = std::make_shared<std::string>();
    auto after = std::make_shared<std::atomic<bool>>(false);
    TFnThread thread([caught, after](TFnThread& self) {
        try {
            self.Sync([] { throw EStreamError("from the handler"); });
        } catch (const EStreamError& e) {
            *caught = e.what();
        }
        // The thread can go on synchronizing afterwards.
        *after = self.Sync([] {});
    });
    thread.Resume();
    thread.WaitFor();
    EXPECT_EQ(*caught, "from the handler");
    EXPECT_TRUE(*after);
}

TEST_F(ThreadTest, ExceptionLeavingTheBodyGoesToTheReportOnTheMainThread) {
    const auto mainId = std::this_thread::get_id();
    struct TReport {
        std::thread::id On;
        const TThread* Sender = nullptr;
        std::string Message;
        int Count = 0;
    };
    auto report = std::make_shared<TReport>();
    TThread::SetExceptionReport([report](const TThread& sender, std::exception_ptr error) {
        report->On = std::this_thread::get_id();
        report->Sender = &sender;
        ++report->Count;
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            report->Message = e.what();
        }
    });
    auto ended = std::make_shared<std::atomic<bool>>(false);
    TFnThread thread([](TFnThread&) { throw EPixError("body failed"); });
    thread.OnTerminate = [ended](TThread&) { *ended = true; };
    thread.Resume();
    ASSERT_TRUE(WaitUntil([&] { return ended->load(); }));
    thread.WaitFor();
    EXPECT_EQ(report->Count, 1);
    EXPECT_EQ(report->On, mainId);
    EXPECT_EQ(report->Sender, &thread);
    EXPECT_EQ(report->Message, "body failed");

    // An exception of OnTerminate is reported the same way.
    report->Count = 0;
    TFnThread second([](TFnThread&) {});
    second.OnTerminate = [](TThread&) { throw EPixError("handler failed"); };
    second.Resume();
    ASSERT_TRUE(WaitUntil([&] { return report->Count == 1; }));
    second.WaitFor();
    EXPECT_EQ(report->Message, "handler failed");
}

TEST_F(ThreadTest, WithoutAReportTheMessageGoesToStandardError) {
    testing::internal::CaptureStderr();
    TFnThread thread([](TFnThread&) { throw EPixError("nobody listens"); });
    thread.Resume();
    thread.WaitFor();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("nobody listens"), std::string::npos);
}

TEST_F(ThreadTest, FreeOnTerminateDeletesTheThreadAfterOnTerminate) {
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    auto destroyedAtTerminate = std::make_shared<bool>(true);
    auto thread = std::make_unique<TFnThread>([](TFnThread& self) { self.Sync([] {}); }, destroyed);
    thread->FreeOnTerminate = true;
    thread->OnTerminate = [destroyed, destroyedAtTerminate](TThread&) {
        *destroyedAtTerminate = destroyed->load();
    };
    thread.release()->Resume();
    ASSERT_TRUE(WaitUntil([&] { return destroyed->load(); }));
    EXPECT_FALSE(*destroyedAtTerminate);
    EXPECT_TRUE(AllThreadsEnded());
}

TEST_F(ThreadTest, WaitForOnTheMainThreadLetsTheBodySynchronize) {
    // WaitFor without any event loop of the test's own: the body's calls must still run.
    auto count = std::make_shared<int>(0);
    TFnThread thread([count](TFnThread& self) {
        for (int i = 0; i < 5; ++i) self.Sync([count] { ++*count; });
    });
    thread.Resume();
    const auto start = std::chrono::steady_clock::now();
    thread.WaitFor();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(*count, 5);
    thread.WaitFor();  // an ended thread returns at once
}

TEST_F(ThreadTest, WaitForOnAnotherThread) {
    TFnThread worker([](TFnThread& self) {
        while (!self.Terminated()) std::this_thread::sleep_for(1ms);
    });
    worker.Resume();
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        worker.WaitFor();
        returned = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(returned);
    worker.Terminate();
    waiter.join();
    EXPECT_TRUE(returned);
}

// The owner of a thread that does not free itself stops it and waits before deleting it:
// the derived part of the object is gone before the base destructor could wait.
TEST_F(ThreadTest, OwnerStopsAndWaitsForARunningThreadBeforeDeletingIt) {
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    auto calls = std::make_shared<std::atomic<int>>(0);
    {
        TFnThread thread(
            [calls](TFnThread& self) {
                while (!self.Terminated()) {
                    self.Sync([calls] { ++*calls; });
                    std::this_thread::sleep_for(1ms);
                }
            },
            destroyed);
        thread.Resume();
        ASSERT_TRUE(WaitUntil([&] { return calls->load() >= 2; }));
        thread.Terminate();
        thread.WaitFor();
        EXPECT_FALSE(*destroyed);
    }
    EXPECT_TRUE(*destroyed);
    EXPECT_EQ(TThread::RunningCount(), 0);
}

// The owner stops a worker whose call is queued for the main thread without running that
// call or any other event: the call is refused and the worker ends.
TEST_F(ThreadTest, StopAndWaitRefusesThePendingCallWithoutRunningEvents) {
    auto ran = std::make_shared<std::atomic<int>>(0);
    auto queued = std::make_shared<std::atomic<bool>>(false);
    auto result = std::make_shared<std::atomic<int>>(-1);
    TFnThread thread([ran, queued, result](TFnThread& self) {
        *queued = true;
        *result = self.Sync([ran] { ++*ran; }) ? 1 : 0;
    });
    thread.Resume();
    while (!*queued) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    thread.StopAndWait();
    EXPECT_EQ(*result, 0);
    QCoreApplication::processEvents();  // the refused call, still queued, does not run
    EXPECT_EQ(*ran, 0);
}

TEST_F(ThreadTest, CallsToAVanishedTargetAreDroppedAndStopTheThread) {
    auto target = std::make_unique<TSyncTarget>();
    auto ran = std::make_shared<std::atomic<int>>(0);
    auto results = std::make_shared<std::vector<bool>>();
    auto started = std::make_shared<std::atomic<bool>>(false);
    TFnThread thread([ran, results, started](TFnThread& self) {
        *started = true;
        results->push_back(self.Sync([ran] { ++*ran; }));
        results->push_back(self.Terminated());
    });
    thread.SetSyncTarget(*target);
    thread.Resume();
    // The call is queued while the target still exists and reaches the main thread after
    // it is gone.
    while (!*started) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    target.reset();
    thread.WaitFor();
    EXPECT_EQ(*ran, 0);
    EXPECT_EQ(*results, (std::vector<bool>{false, true}));
}

TEST_F(ThreadTest, ShutdownAllRefusesACallTheMainThreadDoesNotTake) {
    auto result = std::make_shared<std::atomic<int>>(-1);
    auto ran = std::make_shared<std::atomic<bool>>(false);
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    auto thread = std::make_unique<TFnThread>(
        [result, ran](TFnThread& self) {
            *result = self.Sync([ran] { *ran = true; }) ? 1 : 0;
            // Later calls are refused at once.
            if (self.Sync([ran] { *ran = true; })) *result = 2;
        },
        destroyed);
    thread->FreeOnTerminate = true;
    thread.release()->Resume();
    std::this_thread::sleep_for(50ms);  // the call is queued; no events are processed
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(TThread::ShutdownAll(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(*result, 0);
    EXPECT_TRUE(*destroyed);
    QCoreApplication::processEvents();  // the refused call comes up and does nothing
    EXPECT_FALSE(*ran);

    // Threads made after the shutdown synchronize as before.
    auto later = std::make_shared<std::atomic<bool>>(false);
    TFnThread next([later](TFnThread& self) { *later = self.Sync([] {}); });
    next.Resume();
    next.WaitFor();
    EXPECT_TRUE(*later);
}

TEST_F(ThreadTest, ManyThreadsSynchronizingAtOnce) {
    constexpr int kThreads = 8;
    constexpr int kCalls = 50;
    int total = 0;  // touched only on the main thread
    std::vector<std::unique_ptr<TFnThread>> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.push_back(std::make_unique<TFnThread>([&total](TFnThread& self) {
            for (int c = 0; c < kCalls; ++c) self.Sync([&total] { ++total; });
        }));
    }
    for (auto& thread : threads) thread->Resume();
    for (auto& thread : threads) thread->WaitFor();
    EXPECT_EQ(total, kThreads * kCalls);
}

}  // namespace
}  // namespace pix

namespace pix {
namespace {

TEST_F(ThreadTest, TerminationSignalsArriveOnTheMainThreadAndLeaveWithTheObject) {
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    std::vector<int> arrived;
    std::thread::id where;
    {
        const TTerminationSignals termination([&](int signal) {
            arrived.push_back(signal);
            where = std::this_thread::get_id();
        });
        raise(SIGINT);
        raise(SIGTERM);
        EXPECT_TRUE(WaitUntil([&] { return arrived.size() == 2; }));
    }
    EXPECT_EQ(arrived, (std::vector<int>{SIGINT, SIGTERM}));
    EXPECT_EQ(where, std::this_thread::get_id());
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(ByteBudgetTest, WaitsForRoomRunsOversizedRequestsAloneAndStops) {
    using namespace std::chrono_literals;
    TByteBudget budget([] { return std::int64_t{100}; });
    auto a = budget.Reserve(60);
    auto b = budget.Reserve(40);  // fits exactly
    // A waiter that is stopped gives its turn up; the requests behind it go on.
    std::stop_source stop;
    std::thread stopped([&] { EXPECT_FALSE(budget.Reserve(10, stop.get_token()).Held()); });
    std::this_thread::sleep_for(20ms);
    stop.request_stop();
    stopped.join();
    b = {};
    // More than the whole budget: it waits while another reservation is held, then runs
    // alone.
    std::atomic<bool> ran{false};
    std::thread alone([&] {
        auto r = budget.Reserve(150);
        EXPECT_EQ(budget.Reserved(), 150);
        ran = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(ran);
    a = {};
    alone.join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(budget.Reserved(), 0);
    // Bytes charged without waiting leave less room, yet a request alone still runs.
    auto held = budget.Charge(90);
    EXPECT_TRUE(budget.Reserve(80).Held());
    EXPECT_EQ(budget.Reserved(), 90);
}

}  // namespace
}  // namespace pix
