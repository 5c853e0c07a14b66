// SPDX-License-Identifier: MIT
#include "settings/form_placement.h"

#include "gui_support.h"
#include "test_support.h"

#include "platform/gui/monitors.h"
#include "platform/registry.h"

#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

namespace pix {

// A pane with the stored sizes.
class TTestPane : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Width MEMBER Width)
    Q_PROPERTY(int Height MEMBER Height)
public:
    using QObject::QObject;
    int Width = 200;
    int Height = 239;
};

class TTestForm : public QWidget {
    Q_OBJECT
public:
    TTestForm() {
        setGeometry(92, 169, 645, 495);
        Panel1->setObjectName("Panel1");
        ShellTree->setObjectName("ShellTree");
    }
    ~TTestForm() override {
        if (Storage != nullptr) Storage->FormDestroy();
    }
    TTestPane* Panel1 = new TTestPane(this);
    TTestPane* ShellTree = new TTestPane(this);
    TFormStorage* Storage = nullptr;
};

namespace {

constexpr const char* kKey = "Software\\Corvane\\Pixorama";

class TFakeScreens : public TScreens {
public:
    std::vector<TMonitorInfo> Monitors() const override { return FMonitors; }
    int PixelsPerInch() const override { return FPixelsPerInch; }
    std::vector<TMonitorInfo> FMonitors = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}}};
    int FPixelsPerInch = 96;
};

// Records the names of the values in the order they are written.
class TRecordingStorage : public TFormStorage {
public:
    using TFormStorage::TFormStorage;
    std::vector<std::string> Written;

protected:
    void DoWriteString(const std::string& section, const std::string& name,
                       const std::string& value) override {
        Written.push_back(name);
        TFormStorage::DoWriteString(section, name, value);
    }
};

QRect Rect(int left, int top, int right, int bottom) {
    return {left, top, right - left, bottom - top};
}

class FormPlacementTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureGuiApplication(); }
    void SetUp() override {
        SetRegistryRootFolderForTesting(FDir.Path().string());
        SetApplicationErrorReport([this](const std::string& m) { FErrors.push_back(m); });
    }
    void TearDown() override {
        SetApplicationErrorReport({});
        SetRegistryRootFolderForTesting({});
        EXPECT_TRUE(FErrors.empty()) << FErrors.front();
    }

    // The main form's storage on a test form, over the fake desktop.
    template <typename TStorage = TFormStorage>
    std::unique_ptr<TTestForm> MakeForm(TStorage** storage = nullptr) {
        auto form = std::make_unique<TTestForm>();
        auto* s = new TStorage(form.get());
        s->SetIniFileName(kKey);
        s->SetUseRegistry(true);
        s->SetStoredProps({"Panel1.Width", "ShellTree.Height"});
        s->SetScreens(&FScreens);
        form->Storage = s;
        if (storage != nullptr) *storage = s;
        return form;
    }

    // Stored values of the form's section, as a last run left them.
    void Store(const std::vector<std::pair<std::string, std::string>>& values) {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(std::string(kKey) + "\\TTestForm", true));
        for (const auto& [name, value] : values) reg.WriteString(name, value);
    }

    test::TTempDir FDir;
    TFakeScreens FScreens;
    std::vector<std::string> FErrors;
};

TEST_F(FormPlacementTest, FirstStartMakesTheEmptyKeyAndACloseWritesTheValuesInOrder) {
    TRecordingStorage* storage = nullptr;
    auto form = MakeForm<TRecordingStorage>(&storage);
    QSignalSpy restored(storage, &TFormPlacement::OnRestorePlacement);
    QObject::connect(storage, &TFormPlacement::OnSavePlacement, [&](TFormPlacement* sender) {
        sender->WriteString(sender->IniSection(), "DirTree_Directory", "/data");
    });
    form->show();
    EXPECT_EQ(restored.count(), 1);
    EXPECT_EQ(form->geometry(), QRect(92, 169, 645, 495));
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kKey, false));
        EXPECT_TRUE(reg.GetValueNames().empty());
        EXPECT_TRUE(reg.GetKeyNames().empty());
    }

    form->Panel1->Width = 250;
    form->close();
    // The hide that follows the close saves nothing more.
    EXPECT_EQ(storage->Written,
              (std::vector<std::string>{"FormVersion", "Flags", "ShowCmd", "PixelsPerInch",
                                        "MinMaxPos(1920x1080)", "MinMaxPos", "NormPos(1920x1080)",
                                        "NormPos", "Visible", "Panel1_Width", "ShellTree_Height",
                                        "DirTree_Directory"}));
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(std::string(kKey) + "\\TTestForm", false));
    EXPECT_EQ(reg.GetValueNames().size(), 12u);
    EXPECT_EQ(reg.ReadString("Visible"), "0");
    EXPECT_EQ(reg.ReadString("ShowCmd"), "1");
    EXPECT_EQ(reg.ReadString("NormPos"), "92,169,737,664");
    EXPECT_EQ(reg.ReadString("Panel1_Width"), "250");

    // Destroyed while shown (not closed): saved once more, with "Visible" "1".
    auto again = MakeForm();
    again->show();
    again.reset();
    ASSERT_TRUE(reg.OpenKey("\\" + std::string(kKey) + "\\TTestForm", false));
    EXPECT_EQ(reg.ReadString("Visible"), "1");
}

TEST_F(FormPlacementTest, RectanglesComeBackInsideTheNearestWorkArea) {
    // The primary monitor with a panel at the bottom, a second one with a panel at the top;
    // the desktop does not begin at 0, 0 (the offscreen platform keeps a window's frame off
    // the top and left edges).
    FScreens.FMonitors = {{{100, 100, 2020, 1180}, {100, 100, 2020, 1140}},
                          {{2020, 100, 3300, 1124}, {2020, 130, 3300, 1124}}};
    const std::pair<const char*, QRect> cases[] = {
        // On a third monitor that is gone, right of the second.
        {"4000,100,4600,500", Rect(2700, 130, 3300, 530)},
        // Above and left of everything.
        {"-900,-500,-300,-100", Rect(100, 100, 700, 500)},
        // Under the second monitor's panel.
        {"2100,0,2700,400", Rect(2100, 130, 2700, 530)},
        // Larger than the work area: as large as it.
        {"200,200,3100,1600", Rect(100, 100, 2020, 1140)},
        {"600,-20000000,800,2000000000", Rect(600, 100, 800, 1140)},
        // Left of its right edge no more: not applied.
        {"700,100,500,300", QRect(92, 169, 645, 495)},
    };
    for (const auto& [stored, expected] : cases) {
        Store({{"NormPos", stored}, {"PixelsPerInch", "96"}, {"ShowCmd", "1"}});
        auto form = MakeForm();
        form->show();
        EXPECT_EQ(form->geometry(), expected) << stored;
        form->Storage->SetActive(false);
    }
}

TEST_F(FormPlacementTest, AnotherResolutionFallsBackToThePlainNormPos) {
    Store({{"NormPos(1920x1080)", "10,20,610,420"}, {"NormPos", "30,40,630,440"}});
    const std::pair<TRect, QPoint> cases[] = {
        {{0, 0, 1920, 1080}, QPoint(10, 20)},
        {{0, 0, 1600, 900}, QPoint(30, 40)},
    };
    for (const auto& [monitor, expected] : cases) {
        FScreens.FMonitors = {{monitor, monitor}};
        auto form = MakeForm();
        form->show();
        EXPECT_EQ(form->geometry().topLeft(), expected);
        form->Storage->SetActive(false);
    }
}

TEST_F(FormPlacementTest, OtherPixelsPerInchKeepTheDesignedPlaceButRestoreTheState) {
    // The stored show command and the state it gives; the main form (none is named) opens
    // normal and minimizes once it is shown.
    const std::pair<const char*, Qt::WindowState> cases[] = {
        {"3", Qt::WindowMaximized}, {"1", Qt::WindowNoState},   {"5", Qt::WindowNoState},
        {"9", Qt::WindowNoState},   {"2", Qt::WindowMinimized}, {"6", Qt::WindowMinimized},
        {"7", Qt::WindowMinimized}, {"4", Qt::WindowNoState},   {"x", Qt::WindowNoState},
    };
    for (const auto& [showCmd, state] : cases) {
        Store({{"NormPos", "10,20,610,420"}, {"PixelsPerInch", "120"}, {"ShowCmd", showCmd}});
        auto form = MakeForm();
        QSignalSpy restored(form->Storage, &TFormPlacement::OnRestorePlacement);
        form->show();
        QCoreApplication::processEvents();
        EXPECT_EQ(form->windowState(), state) << showCmd;
        EXPECT_EQ(form->normalGeometry(), QRect(92, 169, 645, 495)) << showCmd;
        EXPECT_EQ(restored.count(), 1);
        form->Storage->SetActive(false);
    }

    // A stored version below the form's restores nothing and raises nothing.
    Store({{"FormVersion", "1"}, {"PixelsPerInch", "96"}});
    auto newer = MakeForm();
    newer->Storage->SetVersion(2);
    QSignalSpy none(newer->Storage, &TFormPlacement::OnRestorePlacement);
    newer->show();
    EXPECT_FALSE(newer->isMaximized());
    EXPECT_EQ(none.count(), 0);
    newer->Storage->SetActive(false);
}

TEST_F(FormPlacementTest, AnIniFileServesAsWell) {
    const std::string file = FDir.File("placement.ini");
    for (int run = 0; run < 2; ++run) {
        auto form = MakeForm();
        form->Storage->SetUseRegistry(false);
        form->Storage->SetIniFileName(file);
        TStoredValue* zoom = form->Storage->StoredValues().Add();
        zoom->SetName("Zoom");
        form->show();
        if (run == 0) {
            form->setGeometry(50, 60, 700, 500);
            form->ShellTree->Height = 150;
            zoom->SetValue(1.25);
            form->close();
            const std::string text = test::ReadFile(file);
            EXPECT_NE(text.find("[TTestForm]\nFormVersion=0\n"), std::string::npos) << text;
            EXPECT_NE(text.find("\nNormPos=50,60,750,560\n"), std::string::npos) << text;
            EXPECT_NE(text.find("\nShellTree_Height=150\nZoom=1.25\n"), std::string::npos) << text;
        } else {
            EXPECT_EQ(form->geometry(), QRect(50, 60, 700, 500));
            EXPECT_EQ(form->ShellTree->Height, 150);
            EXPECT_EQ(zoom->Value(), QVariant(QString("1.25")));
        }
    }
}

TEST_F(FormPlacementTest, LimitsAndAFrozenSize) {
    auto form = MakeForm();
    TWinMinMaxInfo limits;
    limits.MinTrackWidth = 300;
    limits.MaxTrackHeight = 600;
    form->Storage->SetMinMaxInfo(limits);
    form->show();
    EXPECT_EQ(form->minimumWidth(), 300);
    EXPECT_EQ(form->maximumHeight(), 600);
    form->Storage->SetPreventResize(true);
    EXPECT_EQ(form->minimumSize(), form->size());
    EXPECT_EQ(form->maximumSize(), form->size());
    EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    form->Storage->SetPreventResize(false);
    form->Storage->SetMinMaxInfo({});
    EXPECT_EQ(form->minimumSize(), QSize(0, 0));
    EXPECT_TRUE(form->isVisible());
}

}  // namespace
}  // namespace pix

#include "form_placement_test.moc"
