// SPDX-License-Identifier: MIT
#include "platform/disc_monitor.h"

#include "test_support.h"
#include "thread_support.h"

#include "platform/shell_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct TCountingNode : TMonitoredNode {
    int Reports = 0;
    void FolderChanged(TDiscMonitorThread&) override { ++Reports; }
};

class DiscMonitorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureApplication(); }
    void TearDown() override { EXPECT_TRUE(test::AllThreadsEnded()); }

    std::unique_ptr<TDiscMonitorThread> Watch(const std::string& path, std::uint32_t filter) {
        auto monitor = std::make_unique<TDiscMonitorThread>(&FNode, path, filter);
        monitor->Resume();
        return monitor;
    }
    // Waits until a report arrives; after `quiet` without one, false.
    bool Reported(std::chrono::milliseconds quiet = 5s) {
        const int before = FNode.Reports;
        return test::WaitUntil([&] { return FNode.Reports > before; }, quiet);
    }
    void Settle() {
        test::WaitUntil([] { return false; }, 150ms);
        FNode.Reports = 0;
    }

    test::TTempDir FDir;
    TCountingNode FNode;
};

// The filter decides which changes are reported, and a new one applies to the running watch.
TEST_F(DiscMonitorTest, ReportsWhatTheFilterAsksForAndTakesANewFilterWhileRunning) {
    const std::string dir = FDir.Path().string();
    auto monitor = Watch(dir, FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES);
    fs::create_directory(dir + "/sub");
    EXPECT_TRUE(Reported());
    Settle();
    test::WriteFile(dir + "/file.tif", "x");  // a file name: not asked for
    EXPECT_FALSE(Reported(300ms));

    monitor->SetFilter(FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_FILE_NAME);
    std::this_thread::sleep_for(50ms);  // the new filter reaches the running thread
    fs::rename(dir + "/file.tif", dir + "/renamed.tif");
    EXPECT_TRUE(Reported());
    EXPECT_FALSE(monitor->Failed());
}

// Writes to a file count for the size and write-time filters, except for ignored names; the
// folder's own removal always counts.
TEST_F(DiscMonitorTest, WritesIgnoredNamesAndTheFolderItself) {
    const std::string dir = FDir.Path().string() + "/watched";
    fs::create_directory(dir);
    test::WriteFile(dir + "/image.tif", "a");
    test::WriteFile(dir + "/pixorama.dtd", "a");
    auto monitor = std::make_unique<TDiscMonitorThread>(
        &FNode, dir, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE,
        std::vector<std::string>{"pixorama.dtd"});
    monitor->Resume();
    test::WriteFile(dir + "/pixorama.dtd", "bb");
    test::WriteFile(dir + "/pixorama.dtd.tmp", "bb");
    EXPECT_FALSE(Reported(300ms));
    test::WriteFile(dir + "/image.tif", "bb");
    EXPECT_TRUE(Reported());
    Settle();
    fs::remove_all(dir);
    EXPECT_TRUE(Reported());
}

TEST_F(DiscMonitorTest, AFolderThatCannotBeWatchedFails) {
    test::WriteFile(FDir.Path().string() + "/plain", "x");
    for (const std::string& path :
         {FDir.Path().string() + "/missing", FDir.Path().string() + "/plain"}) {
        auto monitor = std::make_unique<TDiscMonitorThread>(&FNode, path, 6);
        monitor->Resume();
        EXPECT_TRUE(test::WaitUntil([&] { return monitor->Failed(); })) << path;
    }
}

// More monitors than the system's default of 128 notification instances per user: every
// one of them still works, two of them on the same folder, and together they hold a few
// descriptors, not some per monitor.
TEST_F(DiscMonitorTest, ManyMonitorsShareTheNotificationInstance) {
    constexpr int kCount = 300;
    const auto descriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto before = descriptors();
    std::vector<TCountingNode> nodes(kCount);
    std::vector<std::unique_ptr<TDiscMonitorThread>> monitors;
    for (int i = 0; i < kCount; ++i) {
        const std::string dir = FDir.Path().string() + "/d" + std::to_string(i % (kCount - 1));
        fs::create_directories(dir);
        monitors.push_back(std::make_unique<TDiscMonitorThread>(&nodes[i], dir, 2));
        monitors.back()->Resume();
    }
    fs::create_directory(FDir.Path().string() + "/d0/new");
    fs::create_directory(FDir.Path().string() + "/d150/new");
    EXPECT_TRUE(test::WaitUntil([&] {
        return nodes[0].Reports > 0 && nodes[kCount - 1].Reports > 0 && nodes[150].Reports > 0;
    }));
    EXPECT_EQ(nodes[1].Reports, 0);
    EXPECT_LE(descriptors() - before, 4);
    for (const auto& monitor : monitors) EXPECT_FALSE(monitor->Failed());
}

// A monitor destroyed while its reports wait for the main thread never reaches its node,
// and its destruction does not wait for the main thread.
TEST_F(DiscMonitorTest, DestroyingAMonitorDropsItsPendingReport) {
    const std::string dir = FDir.Path().string();
    for (int round = 0; round < 20; ++round) {
        auto monitor = std::make_unique<TDiscMonitorThread>(&FNode, dir, 1);
        monitor->Resume();
        std::this_thread::sleep_for(10ms);
        test::WriteFile(dir + "/f" + std::to_string(round), "x");
        std::this_thread::sleep_for(10ms);  // the report is queued; no events run meanwhile
        monitor.reset();
        FNode.Reports = 0;
        QCoreApplication::processEvents();
        EXPECT_EQ(FNode.Reports, 0);
    }
}

}  // namespace
}  // namespace pix

namespace pix {
namespace {

// The program's end stops every thread, also watchers blocked in their waits.
TEST_F(DiscMonitorTest, TheProgramsEndStopsWatchers) {
    auto monitor = Watch(FDir.Path().string(), 6);
    TMountMonitor mounts([] {});
    EXPECT_TRUE(TThread::FinishAll(5000));
}

}  // namespace
}  // namespace pix
