// SPDX-License-Identifier: MIT
#include "platform/gui/single_instance.h"

#include "test_support.h"
#include "thread_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace pix {
namespace {

// Each test uses a lock name of its own, so that runs in parallel do not meet.
std::string UniqueName() {
    static std::atomic<int> counter{0};
    return "PixoramaTest_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureApplication(); }
    void TearDown() override {
        for (auto& p : FPeers) {
            p->kill();
            p->waitForFinished(5000);
        }
    }

    // Starts a peer that takes the lock and waits until it says it is ready.
    QProcess& StartFirst(const QStringList& args) {
        QProcess& p = Start(args);
        EXPECT_TRUE(p.waitForReadyRead(10000)) << "peer did not start";
        EXPECT_EQ(p.readAllStandardOutput().trimmed(), "ready");
        return p;
    }

    QProcess& Start(const QStringList& args) {
        FPeers.push_back(std::make_unique<QProcess>());
        QProcess& p = *FPeers.back();
        p.start(PIXORAMA_SINGLE_INSTANCE_PEER, args);
        EXPECT_TRUE(p.waitForStarted(10000));
        return p;
    }

    // Runs a later start to its end; gives what it printed and its time in milliseconds.
    std::string RunSecond(qint64& ms) {
        QElapsedTimer clock;
        clock.start();
        QProcess& p = Start({"start", QString::fromStdString(FName)});
        EXPECT_TRUE(p.waitForFinished(15000));
        ms = clock.elapsed();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        return p.readAllStandardOutput().trimmed().toStdString();
    }

    std::string Recorded() const { return test::ReadFile(FRecord); }

    test::TTempDir FDir;
    std::string FName = UniqueName();
    std::string FRecord = FDir.File("record.txt");
    std::vector<std::unique_ptr<QProcess>> FPeers;
};

struct TTitleCase {
    const char* Title;
    bool Forward;
};

class SingleInstanceTitleTest : public SingleInstanceTest,
                                public ::testing::WithParamInterface<TTitleCase> {};

// A later start finds the running one, asks it forward only when its title begins with
// "Pixorama" in any case, and ends at once in every case.
TEST_P(SingleInstanceTitleTest, LaterStartAsksTheRunningOneForwardAndEnds) {
    test::WriteFile(FRecord, "");
    StartFirst({"serve", QString::fromStdString(FName), QString::fromStdString(FRecord),
                GetParam().Title});
    qint64 ms = 0;
    EXPECT_EQ(RunSecond(ms), "second");
    EXPECT_LT(ms, 2500);
    EXPECT_EQ(Recorded(), GetParam().Forward ? "forward\n" : "");
}

INSTANTIATE_TEST_SUITE_P(Titles, SingleInstanceTitleTest,
                         ::testing::Values(TTitleCase{"Pixorama 1.0", true},
                                           TTitleCase{"PIXORAMA 2.5 beta", true},
                                           TTitleCase{"Pixoram", false},
                                           TTitleCase{"Other Pixorama", false},
                                           TTitleCase{"", false}));

TEST_F(SingleInstanceTest, KilledInstanceLeavesNoBlockingLockOrSocket) {
    test::WriteFile(FRecord, "");
    QProcess& first = StartFirst(
        {"serve", QString::fromStdString(FName), QString::fromStdString(FRecord), "Pixorama 1.0"});
    first.kill();  // no clean-up: lock file and socket file stay behind
    ASSERT_TRUE(first.waitForFinished(5000));
    {
        TSingleInstance probe(FName);
        ASSERT_TRUE(probe.IsFirst());
        EXPECT_TRUE(QFile::exists(QString::fromStdString(probe.SocketName())));
    }
    // The next start takes over and serves in place of the dead one.
    StartFirst(
        {"serve", QString::fromStdString(FName), QString::fromStdString(FRecord), "Pixorama 1.0"});
    qint64 ms = 0;
    EXPECT_EQ(RunSecond(ms), "second");
    EXPECT_EQ(Recorded(), "forward\n");
}

TEST_F(SingleInstanceTest, LockFileWithForeignContentDoesNotBlock) {
    std::string lockFile;
    {
        TSingleInstance probe(FName);
        ASSERT_TRUE(probe.IsFirst());
        lockFile = probe.LockFileName();
    }
    test::WriteFile(lockFile, "\xff\xfe garbage");
    qint64 ms = 0;
    EXPECT_EQ(RunSecond(ms), "first");
}

// A first instance that never answers, or has not begun to listen, costs a later start a
// bounded wait.
TEST_F(SingleInstanceTest, UnansweringFirstInstanceCostsOnlyAFewSeconds) {
    for (const char* mode : {"hang", "lock"}) {
        FName = UniqueName();
        StartFirst({mode, QString::fromStdString(FName)});
        qint64 ms = 0;
        EXPECT_EQ(RunSecond(ms), "second") << mode;
        EXPECT_LT(ms, kActivationTimeoutMs + 2000) << mode;
    }
}

TEST_F(SingleInstanceTest, LockIsHeldUntilTheObjectGoes) {
    {
        TSingleInstance first(FName);
        ASSERT_TRUE(first.IsFirst());
        QElapsedTimer clock;
        clock.start();
        first.ActivateRunning();  // the holder itself has nobody to ask
        EXPECT_LT(clock.elapsed(), 500);
        qint64 ms = 0;
        // Nobody serves: the later start waits its bounded time and gives up.
        EXPECT_EQ(RunSecond(ms), "second");
    }
    qint64 ms = 0;
    EXPECT_EQ(RunSecond(ms), "first");
    EXPECT_LT(ms, 2000);
}

}  // namespace
}  // namespace pix
