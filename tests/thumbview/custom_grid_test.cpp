// SPDX-License-Identifier: MIT
#include "thumbview/custom_grid.h"

#include "gui_support.h"
#include "thread_support.h"

#include <QApplication>
#include <QHelpEvent>
#include <QInputDevice>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <set>
#include <utility>

namespace pix {
namespace {

// A grid that remembers which cells it drew and refuses the cells it is told to.
class TTestGrid : public TCustomGrid {
public:
    TTestGrid() {
        setFrameShape(QFrame::NoFrame);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        SetDefaultColWidth(50);
        SetDefaultRowHeight(40);
    }

    std::set<std::pair<int, int>> Refused;
    std::set<std::pair<int, int>> Drawn;

protected:
    bool SelectCell(int col, int row) override {
        return AskSelectCell(col, row, Refused.count({col, row}) == 0);
    }
    void DrawCell(int col, int row, const QRect& rect, TGridDrawState, QPainter& painter) override {
        Drawn.insert({col, row});
        painter.fillRect(rect, Qt::darkBlue);
    }
};

class CustomGridTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureGuiApplication(); }

    // 4 columns, 10 rows, three rows in view.
    void SetUp() override {
        FGrid.resize(200, 120);
        FGrid.SetColCount(4);
        FGrid.SetRowCount(10);
        FGrid.show();
    }

    TTestGrid FGrid;
};

struct TKeyCase {
    const char* Name;
    int StartCol, StartRow;
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    int Col, Row, TopRow;
};
void PrintTo(const TKeyCase& c, std::ostream* os) { *os << c.Name; }

class CustomGridKeyTest : public CustomGridTest, public ::testing::WithParamInterface<TKeyCase> {};

TEST_P(CustomGridKeyTest, MovesTheCurrentCellAndKeepsItInView) {
    const TKeyCase& c = GetParam();
    FGrid.SetSelection({c.StartCol, c.StartRow, c.StartCol, c.StartRow});
    QTest::keyClick(&FGrid, c.Key, c.Modifiers);
    EXPECT_EQ(FGrid.Col(), c.Col);
    EXPECT_EQ(FGrid.Row(), c.Row);
    EXPECT_EQ(FGrid.Selection(), (TGridRect{c.Col, c.Row, c.Col, c.Row}));
    EXPECT_EQ(FGrid.TopRow(), c.TopRow);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, CustomGridKeyTest,
    ::testing::Values(TKeyCase{"Right", 1, 1, Qt::Key_Right, {}, 2, 1, 0},
                      TKeyCase{"RightAtEdge", 3, 1, Qt::Key_Right, {}, 3, 1, 0},
                      TKeyCase{"LeftAtEdge", 0, 1, Qt::Key_Left, {}, 0, 1, 0},
                      TKeyCase{"UpAtTop", 2, 0, Qt::Key_Up, {}, 2, 0, 0},
                      TKeyCase{"DownScrolls", 0, 2, Qt::Key_Down, {}, 0, 3, 1},
                      TKeyCase{"PageDown", 1, 1, Qt::Key_PageDown, {}, 1, 4, 2},
                      TKeyCase{"PageDownClamped", 1, 8, Qt::Key_PageDown, {}, 1, 9, 7},
                      TKeyCase{"PageUpClamped", 1, 1, Qt::Key_PageUp, {}, 1, 0, 0},
                      TKeyCase{"End", 1, 1, Qt::Key_End, {}, 3, 1, 0},
                      TKeyCase{"Home", 2, 1, Qt::Key_Home, {}, 0, 1, 0},
                      TKeyCase{"CtrlEnd", 1, 1, Qt::Key_End, Qt::ControlModifier, 3, 9, 7},
                      TKeyCase{"CtrlHome", 2, 2, Qt::Key_Home, Qt::ControlModifier, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(CustomGridTest, RefusedCellsStayUnselected) {
    FGrid.Refused = {{2, 1}};
    FGrid.SetSelection({1, 1, 1, 1});
    QTest::keyClick(&FGrid, Qt::Key_Right);
    EXPECT_EQ(FGrid.Col(), 1);

    // OnSelectCell may overturn the grid's own answer either way.
    FGrid.OnSelectCell = [](int col, int, bool& canSelect) { canSelect = col != 0; };
    QTest::keyClick(&FGrid, Qt::Key_Right);
    EXPECT_EQ(FGrid.Col(), 2);
    QTest::keyClick(&FGrid, Qt::Key_Home);
    EXPECT_EQ(FGrid.Col(), 2);
    QTest::keyClick(&FGrid, Qt::Key_Left);
    EXPECT_EQ(FGrid.Col(), 1);
    QTest::keyClick(&FGrid, Qt::Key_Down);
    EXPECT_EQ(FGrid.Row(), 2);

    // A refused page target still turns the page.
    FGrid.OnSelectCell = [](int, int, bool& canSelect) { canSelect = false; };
    QTest::keyClick(&FGrid, Qt::Key_PageDown);
    EXPECT_EQ(FGrid.Row(), 2);
    EXPECT_EQ(FGrid.TopRow(), 3);
}

TEST_F(CustomGridTest, MouseFindsTheCellUnderIt) {
    FGrid.SetTopRow(2);
    int col = 0, row = 0;
    EXPECT_TRUE(FGrid.MouseToCell(0, 0, col, row));
    EXPECT_EQ(std::make_pair(col, row), std::make_pair(0, 2));
    EXPECT_TRUE(FGrid.MouseToCell(149, 79, col, row));
    EXPECT_EQ(std::make_pair(col, row), std::make_pair(2, 3));
    EXPECT_TRUE(FGrid.MouseToCell(150, 80, col, row));
    EXPECT_EQ(std::make_pair(col, row), std::make_pair(3, 4));
    // Right of the last column and below the last row there is no cell.
    FGrid.resize(260, 500);
    EXPECT_FALSE(FGrid.MouseToCell(205, 10, col, row));
    EXPECT_EQ(std::make_pair(col, row), std::make_pair(-1, -1));
    EXPECT_FALSE(FGrid.MouseToCell(10, 499, col, row));
    EXPECT_FALSE(FGrid.MouseToCell(-1, 10, col, row));
}

TEST_F(CustomGridTest, ClicksSelectAndDoubleClicksReport) {
    int clicks = 0, doubles = 0;
    FGrid.OnClick = [&] { ++clicks; };
    FGrid.OnDblClick = [&] { ++doubles; };
    FGrid.SetTopRow(1);
    QTest::mouseClick(FGrid.viewport(), Qt::LeftButton, {}, QPoint(120, 45));
    EXPECT_EQ(FGrid.Selection(), (TGridRect{2, 2, 2, 2}));
    EXPECT_EQ(clicks, 1);
    FGrid.Refused = {{0, 1}};
    QTest::mouseClick(FGrid.viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(FGrid.Selection(), (TGridRect{2, 2, 2, 2}));
    QTest::mouseDClick(FGrid.viewport(), Qt::LeftButton, {}, QPoint(120, 45));
    EXPECT_EQ(doubles, 1);
    // The right button neither selects nor clicks.
    QTest::mouseClick(FGrid.viewport(), Qt::RightButton, {}, QPoint(170, 5));
    EXPECT_EQ(FGrid.Col(), 2);
}

TEST_F(CustomGridTest, TopRowStopsWhereTheLastRowShowsInFull) {
    int changes = 0;
    FGrid.OnTopLeftChanged = [&] { ++changes; };
    FGrid.SetTopRow(50);
    EXPECT_EQ(FGrid.TopRow(), 7);
    FGrid.SetTopRow(-3);
    EXPECT_EQ(FGrid.TopRow(), 0);
    EXPECT_EQ(changes, 2);
    FGrid.SetTopRow(0);
    EXPECT_EQ(changes, 2);
    // Fewer rows pull the top row back; a taller view shows everything from row 0.
    FGrid.SetTopRow(7);
    FGrid.SetRowCount(5);
    EXPECT_EQ(FGrid.TopRow(), 2);
    FGrid.resize(200, 400);
    EXPECT_EQ(FGrid.TopRow(), 0);
}

TEST_F(CustomGridTest, PaintsOnlyTheRowsInView) {
    FGrid.SetTopRow(4);
    FGrid.Drawn.clear();
    const QImage image = FGrid.viewport()->grab().toImage();
    ASSERT_FALSE(FGrid.Drawn.empty());
    for (const auto& [col, row] : FGrid.Drawn) {
        EXPECT_GE(row, 4);
        EXPECT_LE(row, 6);
    }
    EXPECT_EQ(FGrid.Drawn.size(), 12u);
    EXPECT_EQ(image.pixelColor(10, 10), QColor(Qt::darkBlue));
}

struct TTrackingCase {
    const char* Name;
    TGridOptions Options;
    int TopRowWhileDragged;
};
void PrintTo(const TTrackingCase& c, std::ostream* os) { *os << c.Name; }

class CustomGridTrackingTest : public CustomGridTest,
                               public ::testing::WithParamInterface<TTrackingCase> {};

TEST_P(CustomGridTrackingTest, ScrollBarMovesTheViewWhileDraggedOnlyWhenTracking) {
    FGrid.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FGrid.SetOptions(GetParam().Options);
    QScrollBar* bar = FGrid.verticalScrollBar();
    EXPECT_EQ(bar->maximum(), 7);
    bar->setSliderDown(true);
    bar->setSliderPosition(5);
    EXPECT_EQ(FGrid.TopRow(), GetParam().TopRowWhileDragged);
    bar->setSliderDown(false);
    EXPECT_EQ(FGrid.TopRow(), 5);
    // And the bar follows the grid.
    FGrid.SetTopRow(2);
    EXPECT_EQ(bar->value(), 2);
}

INSTANTIATE_TEST_SUITE_P(Options, CustomGridTrackingTest,
                         ::testing::Values(TTrackingCase{"Tracking", goThumbTracking, 5},
                                           TTrackingCase{"NotTracking", 0, 0}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(CustomGridTest, HintShowsOnlyWhileShowHintIsSet) {
    auto askForTip = [&] {
        QHelpEvent help(QEvent::ToolTip, QPoint(10, 10),
                        FGrid.viewport()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(FGrid.viewport(), &help);
    };
    FGrid.SetHint("Sample 7, 20 kV");
    askForTip();
    EXPECT_EQ(QToolTip::text(), "Sample 7, 20 kV");
    EXPECT_TRUE(QToolTip::isVisible());
    FGrid.SetShowHint(false);
    askForTip();
    EXPECT_TRUE(test::WaitUntil([] { return !QToolTip::isVisible(); }, std::chrono::seconds(2)));
    FGrid.SetShowHint(true);
    FGrid.SetHint("");
    askForTip();
    EXPECT_TRUE(test::WaitUntil([] { return !QToolTip::isVisible(); }, std::chrono::seconds(2)));
}

TEST_F(CustomGridTest, ShrinkingPullsTheSelectionInside) {
    FGrid.SetSelection({3, 9, 3, 9});
    FGrid.SetColCount(2);
    FGrid.SetRowCount(4);
    EXPECT_EQ(FGrid.Selection(), (TGridRect{1, 3, 1, 3}));
    EXPECT_EQ(FGrid.Col(), 1);
    EXPECT_EQ(FGrid.Row(), 3);
}

}  // namespace
}  // namespace pix

namespace {
// The input devices Qt makes for shown widgets are children of the application object, which
// the test program keeps in a static; at exit that static is destroyed after Qt's own list of
// devices, and each device's destructor then reads the list that is gone. Freeing them while
// the list still exists lets the program end cleanly.
class TFreeInputDevices : public ::testing::Environment {
public:
    void TearDown() override {
        if (QCoreApplication::instance() == nullptr) return;
        for (const QInputDevice* device : QInputDevice::devices()) delete device;
    }
};
// GoogleTest takes the environment over and deletes it.
[[maybe_unused]] const auto* const kFreeInputDevices =
    ::testing::AddGlobalTestEnvironment(new TFreeInputDevices);
}  // namespace
