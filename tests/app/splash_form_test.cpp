// SPDX-License-Identifier: MIT
#include "app/splash_form.h"

#include "gui_support.h"

#include "platform/gui/single_instance.h"

#include <QDialog>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pix {
namespace {

struct TTiming {
    std::uint32_t Created;
    std::uint32_t Now;
    std::uint32_t Remaining;
};

class SplashTimingTest : public ::testing::TestWithParam<TTiming> {};

TEST_P(SplashTimingTest, RemainingTimeIsCountedInUnsigned32Bits) {
    EXPECT_EQ(SplashRemainingMs(GetParam().Created, GetParam().Now), GetParam().Remaining);
}

INSTANTIATE_TEST_SUITE_P(
    Ticks, SplashTimingTest,
    ::testing::Values(TTiming{1000, 1000, 1500}, TTiming{1000, 1200, 1300}, TTiming{1000, 2499, 1},
                      TTiming{1000, 2500, 0}, TTiming{1000, 90000, 0},
                      // The tick count wrapped between the splash and the main window.
                      TTiming{0xFFFFFF00u, 0x00000100u, 1500 - 512},
                      TTiming{0xFFFFFFFFu, 0x00000000u, 1499}, TTiming{0xFFFFFC00u, 0x000001DCu, 0},
                      // A clock that seems to run backwards counts as long elapsed.
                      TTiming{5000, 4000, 0}),
    [](const ::testing::TestParamInfo<TTiming>& info) {
        return "Case" + std::to_string(info.index);
    });

class SplashFormTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureGuiApplication(); }
    std::uint32_t FNow = 0xFFFFFF00u;
    std::vector<std::uint32_t> FSlept;
    std::unique_ptr<TSplashForm> Make() {
        return std::make_unique<TSplashForm>(
            nullptr, [this] { return FNow; }, [this](std::uint32_t ms) { FSlept.push_back(ms); });
    }
};

TEST_F(SplashFormTest, StaysTheMinimumTimeFromItsCreation) {
    auto splash = Make();
    EXPECT_EQ(splash->CreatedTick(), 0xFFFFFF00u);
    FNow = 0x100;  // 512 ms later, across the wrap
    RemoveSplash(splash);
    EXPECT_EQ(splash, nullptr);
    EXPECT_EQ(FSlept, std::vector<std::uint32_t>{988});

    splash = Make();
    FNow += 1500;  // already long enough: no sleep at all
    RemoveSplash(splash);
    EXPECT_EQ(FSlept.size(), 1u);
    RemoveSplash(splash);  // nothing left to remove
}

TEST_F(SplashFormTest, ShowsVersionAndLogoCentredOnTheScreen) {
    auto splash = Make();
    EXPECT_EQ(splash->VersionLabel()->text(), "Version x.x");  // until it is shown
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_LE((splash->frameGeometry().center() - screen.center()).manhattanLength(), 2);

    splash->ShowAtOnce();
    EXPECT_TRUE(splash->isVisible());
    // The version of this test program's own block.
    EXPECT_EQ(splash->VersionLabel()->text(), "Version 1.0.0.5");
    // The copyright line fits inside the window.
    EXPECT_LE(splash->CopyrightLabel()->geometry().right(), 311);
    // The logo is painted: dark on the left, a bright beam further right.
    const QImage logo = splash->Logo()->grab().toImage();
    EXPECT_LT(qGray(logo.pixel(2, 2)), 80);
    EXPECT_GT(qGray(logo.pixel(200, 16)), 150);
}

// A later start's request, as the program body answers it on the main thread.
TEST(BringForward, RestoresTheMainWindowAndActivatesAnOpenModalDialog) {
    test::EnsureGuiApplication();
    QWidget main;
    main.showMinimized();
    BringApplicationForward(main.windowHandle());
    EXPECT_FALSE(main.windowHandle()->windowStates() & Qt::WindowMinimized);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&main));

    // With a dialog open the main window is restored too, and the dialog comes forward.
    QDialog about(&main);
    about.setWindowModality(Qt::WindowModal);
    about.show();
    main.showMinimized();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    BringApplicationForward(main.windowHandle());
    EXPECT_FALSE(main.windowHandle()->windowStates() & Qt::WindowMinimized);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&about));
}

}  // namespace
}  // namespace pix
