// SPDX-License-Identifier: MIT
#include "app/image_handover.h"

#include "gui_support.h"
#include "test_support.h"

#include "app/pixorama_form.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/res_strings.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <type_traits>

namespace pix {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAppPaths = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr const char* kHardware = "Software\\Corvane\\VEXA 4.0\\Hardware";

// 4,000 characters with blanks, quotes, a tab, new lines and letters outside ASCII.
std::string LongPath() {
    std::string path;
    for (int i = 0; i < 400; ++i)
        path += i % 7 == 0 ? "/a \"b\"\t\xC3\xA4x\n" : "/a \"b\" \xC3\xA4x'";
    return path;
}

std::string Recorded(std::initializer_list<std::string> fields) {
    std::string record;
    for (const std::string& field : fields) record += field + '\0';
    return record;
}

class HandOverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureGuiApplication(); }

    void SetUp() override {
        // Sockets in a runtime folder of the test's own: it meets neither a real imaging
        // application nor the other tests.
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) FOldRuntime = runtime;
        ::setenv("XDG_RUNTIME_DIR", FRuntime.Path().c_str(), 1);
        SetRegistryRootFolderForTesting(FRegistry.Path().string());
        SetProgramFolderForTesting(FProgram.Path().string());
    }

    void TearDown() override {
        for (auto& receiver : FReceivers) {
            receiver->kill();
            receiver->waitForFinished(5000);
        }
        SetProgramFolderForTesting({});
        SetRegistryRootFolderForTesting({});
        if (FOldRuntime.empty())
            ::unsetenv("XDG_RUNTIME_DIR");
        else
            ::setenv("XDG_RUNTIME_DIR", FOldRuntime.c_str(), 1);
    }

    // Starts the test receiver, recording into `record`, and waits until it listens.
    QProcess& StartReceiver(const std::string& record, QStringList options = {}) {
        FReceivers.push_back(std::make_unique<QProcess>());
        QProcess& p = *FReceivers.back();
        p.start(PIXORAMA_HANDOVER_RECEIVER, QStringList{QString::fromStdString(record)} + options);
        EXPECT_TRUE(p.waitForReadyRead(10000)) << "receiver did not start";
        EXPECT_EQ(p.readAllStandardOutput().trimmed(), "ready");
        return p;
    }

    // A program at `path` that writes its arguments, each followed by a zero byte, to the
    // record `label`.
    void Fake(const fs::path& path, const std::string& label) {
        fs::create_directories(path.parent_path());
        const std::string record = FRecords.File(label);
        test::WriteFile(path.string(), "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + record +
                                           ".tmp' && mv '" + record + ".tmp' '" + record + "'\n");
        fs::permissions(path, fs::perms::owner_all);
    }

    // The record `label` once it is there; empty when it does not come.
    std::string WaitForRecord(const std::string& label) {
        const std::string record = FRecords.File(label);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(record) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return fs::exists(record) ? test::ReadFile(record) : std::string();
    }

    bool Started(const std::string& label) const { return fs::exists(FRecords.File(label)); }

    // A value under HKEY_LOCAL_MACHINE: a 32-bit integer or a string.
    template <typename T>
    static void WriteMachine(const std::string& key, const std::string& name, const T& value) {
        TRegistry registry;
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(registry.OpenKey(key, true));
        if constexpr (std::is_integral_v<T>)
            registry.WriteInteger(name, value);
        else
            registry.WriteString(name, value);
    }

    // Both imaging applications installed where the registry says, and kelvo32.exe beside us;
    // no "REMType".
    void InstallEverything() {
        Fake(FInstalled.Path() / "kelvo32.exe", "appkelvo");
        Fake(FInstalled.Path() / "Tavix.exe", "tavix");
        WriteMachine(std::string(kAppPaths) + "kelvo32.exe", "", FInstalled.File("kelvo32.exe"));
        WriteMachine(std::string(kAppPaths) + "Tavix.exe", "", FInstalled.File("Tavix.exe"));
        Fake(FProgram.Path() / "kelvo32.exe", "kelvo");
    }

    test::TTempDir FRuntime, FRegistry, FProgram, FInstalled, FRecords;
    std::string FOldRuntime;
    std::vector<std::unique_ptr<QProcess>> FReceivers;
};

// Also for the second window class, and for a receiver that took over the socket file of
// one that was killed.
TEST_F(HandOverTest, RunningApplicationGetsTheWholePathAndNothingIsStarted) {
    InstallEverything();
    const std::string path = "/data/run 1/image.tif";
    for (const char* windowClass : {"TKelvoForm", "TKelvoForm.UnicodeClass"}) {
        QProcess& dead = StartReceiver(FRecords.File("dead"), {"--class", windowClass});
        dead.kill();
        ASSERT_TRUE(dead.waitForFinished(5000));
        const std::string record = FRecords.File(windowClass);
        QProcess& receiver = StartReceiver(record, {"--class", windowClass});
        EXPECT_EQ(HandOver(path), hoSent) << windowClass;
        EXPECT_EQ(HandOver(LongPath()), hoSent) << windowClass;
        EXPECT_EQ(test::ReadFile(record),
                  Recorded({"WM_THUMB_OPEN", path, "WM_THUMB_OPEN", LongPath()}));
        receiver.kill();
        ASSERT_TRUE(receiver.waitForFinished(5000));
    }
    EXPECT_FALSE(Started("kelvo"));
    EXPECT_FALSE(Started("appkelvo"));
    EXPECT_FALSE(Started("tavix"));
}

TEST_F(HandOverTest, ReceiverThatNeverAnswersCostsAtMostTheLimit) {
    InstallEverything();
    const std::string record = FRecords.File("hung");
    StartReceiver(record, {"--hang"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HandOver("/data/a.tif"), hoSent);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(test::ReadFile(record), Recorded({"WM_THUMB_OPEN", "/data/a.tif"}));
    EXPECT_FALSE(Started("kelvo"));
}

TEST_F(HandOverTest, KelvoBesideTheProgramIsStartedWhateverTheRegistryHolds) {
    InstallEverything();
    WriteMachine(kHardware, "REMType", 512);
    // A socket file nobody listens on any more is no running application.
    test::WriteFile(FRuntime.File("TKelvoForm.socket"), "");
    const std::string path = "/data/a \"b\" \xC3\xA4\\c\\";
    EXPECT_EQ(HandOver(path), hoLaunched);
    EXPECT_EQ(WaitForRecord("kelvo"), Recorded({path}));
    EXPECT_FALSE(Started("appkelvo"));
    EXPECT_FALSE(Started("tavix"));
}

struct TRegistryCase {
    int RemType;  // -1: no value
    bool TavixInstalled;
    const char* Started;
};

class HandOverRegistryTest : public HandOverTest,
                             public ::testing::WithParamInterface<TRegistryCase> {};

TEST_P(HandOverRegistryTest, RemTypeBitNineChoosesTavixWhenItIsThere) {
    InstallEverything();
    fs::remove(FProgram.Path() / "kelvo32.exe");
    if (!GetParam().TavixInstalled) fs::remove(FInstalled.Path() / "Tavix.exe");
    if (GetParam().RemType >= 0) WriteMachine(kHardware, "REMType", GetParam().RemType);
    EXPECT_EQ(HandOver("/data/x y.tif"), hoLaunched);
    EXPECT_EQ(WaitForRecord(GetParam().Started), Recorded({"/data/x y.tif"}));
    EXPECT_FALSE(Started(std::string(GetParam().Started) == "tavix" ? "appkelvo" : "tavix"));
}

INSTANTIATE_TEST_SUITE_P(Rows, HandOverRegistryTest,
                         ::testing::Values(TRegistryCase{512, true, "tavix"},
                                           TRegistryCase{513, true, "tavix"},
                                           TRegistryCase{512, false, "appkelvo"},
                                           TRegistryCase{511, true, "appkelvo"},
                                           TRegistryCase{-1, true, "appkelvo"}));

TEST_F(HandOverTest, ValueOfTheWrongTypeRaisesTheRegistryError) {
    WriteMachine(kHardware, "REMType", "512");
    try {
        HandOver("/data/a.tif");
        ADD_FAILURE() << "no exception";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Id, SInvalidRegType.Id);
        EXPECT_NE(std::string(e.what()).find("REMType"), std::string::npos);
    }
    WriteMachine(kHardware, "REMType", 0);
    WriteMachine("Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", 1);
    EXPECT_THROW(HandOver("/data/a.tif"), ERegistryException);
}

// Nothing installed: the registry's defaults name no file.
TEST_F(HandOverTest, WithNothingStartableOurViewerGetsThePathElseTheFormBeeps) {
    Fake(FProgram.Path() / "pixorama-view", "viewer");
    const std::string path = LongPath().substr(0, 200);
    EXPECT_EQ(HandOver(path), hoViewer);
    EXPECT_EQ(WaitForRecord("viewer"), Recorded({path}));
    // The form's own open command goes the same way.
    fs::remove(FRecords.File("viewer"));
    {
        TPixorama form;
        form.OnOpenImage(path);
    }
    EXPECT_EQ(WaitForRecord("viewer"), Recorded({path}));
    fs::remove(FProgram.Path() / "pixorama-view");
    EXPECT_EQ(HandOver(path), hoNothing);
}

}  // namespace
}  // namespace pix
