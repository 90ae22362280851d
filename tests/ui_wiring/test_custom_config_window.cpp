#include "operator_hands.h"
#include "panel_rig.h"
#include "widget_checks.h"

#include <QScrollBar>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::testing::openForms;
using valve::testing::pressKey;
using valve::testing::runUntil;
using valve::testing::typeKeys;
using valve::ui::CellEditor;
using valve::ui::CustomConfigWindow;

namespace {

// The "Custom Configuration" window opened from the main window of a panel on
// one simulated unit. What Read, Write and the error stack do is tested in
// tests/config; here the grid, its editor and the buttons.
class CustomConfigWindowTest : public ::testing::Test {
protected:
    explicit CustomConfigWindowTest(valve::sim::UnitTiming timing = valve::sim::UnitTiming::instant())
        : rig({"NR Valve"}, timing) {}

    void SetUp() override {
        ASSERT_TRUE(rig.startClean());
        for (int i = 0; i < 16; ++i) {
            rig.unit().memory[0x10 + i] = static_cast<std::uint8_t>(0xB0 + i);
        }
    }

    CustomConfigWindow* open() {
        rig.c().Command1->click();
        const auto forms = openForms();
        return forms.size() == 1 ? forms.first() : nullptr;
    }
    static void closeForm(QPointer<CustomConfigWindow> form) {
        form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_TRUE(form.isNull());
    }

    template <typename T = QLineEdit> static T* child(QWidget* form, const QString& name) {
        return form->findChild<T*>(name);
    }
    static QTableWidget* grid(QWidget* form) { return child<QTableWidget>(form, "MSFlexGrid1"); }
    static CellEditor* text1(QWidget* form) { return child<CellEditor>(form, "Text1"); }
    static QString stat(QWidget* form) { return child(form, "stat")->text(); }
    static QString cellText(QWidget* form, int column) { return grid(form)->item(1, column)->text(); }
    static void clickCell(QWidget* form, int row, int column) {
        valve::testing::clickCell(grid(form), row, column);
    }
    static void enter(QWidget* form, const QString& text) {
        typeKeys(text1(form), text);
        pressKey(text1(form), Qt::Key_Return);
    }
    static void press(QWidget* form, const char* button) { child<QPushButton>(form, button)->click(); }
    static bool waitForStat(QWidget* form, const QString& text) {
        return runUntil([&] { return stat(form) == text; });
    }

    valve::testing::PanelRig rig;
};

class CustomConfigWindowTimedTest : public CustomConfigWindowTest {
protected:
    CustomConfigWindowTimedTest() : CustomConfigWindowTest(valve::sim::UnitTiming{}) {}
};

TEST_F(CustomConfigWindowTest, OpensOnceWithTheEmptyGrid) {
    CustomConfigWindow* form = open();
    ASSERT_NE(form, nullptr);
    rig.c().Command1->click();
    EXPECT_EQ(openForms(), QList<CustomConfigWindow*>{form});
    EXPECT_EQ(valve::testing::clippedCaptions(*form), QStringList{});
    EXPECT_EQ(form->objectName(), "Form2");
    EXPECT_EQ(form->windowTitle(), "Custom Configuration");
    EXPECT_EQ(form->size(), QSize(583, 166));
    EXPECT_EQ(child(form, "err_stack_4")->geometry(), QRect(408, 128, 57, 25));

    QTableWidget* table = grid(form);
    ASSERT_EQ(table->columnCount(), 17);
    EXPECT_EQ(table->geometry(), QRect(8, 64, 566, 38));
    EXPECT_EQ(table->item(1, 0)->text(), "Data");
    EXPECT_EQ(table->item(0, 16)->text(), "1F");
    EXPECT_EQ(cellText(form, 1), "");
    // Both rows lie wholly inside the grid, with no scroll bar.
    EXPECT_LE(table->rowViewportPosition(1) + table->rowHeight(1), table->viewport()->height());
    EXPECT_LE(table->columnViewportPosition(16) + table->columnWidth(16), table->viewport()->width());
    EXPECT_FALSE(table->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(text1(form)->isVisible());
    EXPECT_TRUE(rig.sent().isEmpty());
}

// Which texts the editor accepts is tested in tests/config; here the widget:
// placed on its cell, upper case as typed, Enter, Escape and the error box.
TEST_F(CustomConfigWindowTest, CellEditorOpensOnItsCellAndStoresOrComplains) {
    CustomConfigWindow* form = open();
    ASSERT_NE(form, nullptr);
    QTableWidget* table = grid(form);
    clickCell(form, 0, 4); // a heading opens nothing
    EXPECT_FALSE(text1(form)->isVisible());

    clickCell(form, 1, 4);
    ASSERT_TRUE(text1(form)->isVisible());
    QRect cell = table->visualItemRect(table->item(1, 4));
    cell.translate(table->viewport()->mapTo(form, QPoint(0, 0)));
    EXPECT_EQ(text1(form)->geometry(), cell);
    enter(form, "a5");
    EXPECT_FALSE(text1(form)->isVisible());
    EXPECT_EQ(cellText(form, 4), "A5");
    EXPECT_NE(table->item(1, 4)->background(), table->item(1, 5)->background()); // the mark shows

    clickCell(form, 1, 5);
    enter(form, "a5f");
    EXPECT_EQ(rig.boxes.texts, QStringList{"Data must be in 00-FF range"});
    EXPECT_EQ(rig.boxes.captions, QStringList{"Data Error"});
    EXPECT_TRUE(text1(form)->isVisible());
    EXPECT_EQ(text1(form)->text(), "A5F");
    EXPECT_EQ(cellText(form, 5), "");

    clickCell(form, 1, 4);
    EXPECT_EQ(text1(form)->text(), "A5");
    typeKeys(text1(form), "7");
    pressKey(text1(form), Qt::Key_Escape);
    EXPECT_FALSE(text1(form)->isVisible());
    EXPECT_EQ(cellText(form, 4), "A5");
    EXPECT_TRUE(rig.sent().isEmpty());
}

TEST_F(CustomConfigWindowTest, EachButtonRunsItsOperationAndShowsTheResult) {
    CustomConfigWindow* form = open();
    ASSERT_NE(form, nullptr);
    rig.unit().memory[0x09] = 0x2C;

    press(form, "data_read");
    ASSERT_TRUE(waitForStat(form, "Read OK!"));
    EXPECT_EQ(cellText(form, 16), "BF");

    clickCell(form, 1, 3);
    enter(form, "a5");
    press(form, "data_write");
    ASSERT_TRUE(waitForStat(form, "Programming OK!"));
    EXPECT_EQ(rig.sent().mid(16), (QList<QByteArray>{"I12\r", "WA5\r", "G12\r"}));

    press(form, "read_err_stack");
    ASSERT_TRUE(waitForStat(form, "Read OK!") && rig.sent().size() == 24);
    EXPECT_EQ(child(form, "err_stack_2")->text(), "44");
    press(form, "clear_err_stack");
    ASSERT_TRUE(waitForStat(form, "Programming OK!"));
    EXPECT_EQ(rig.unit().memory[0x09], 0);
    EXPECT_TRUE(rig.log().isEmpty());
}

TEST_F(CustomConfigWindowTest, EnterAfterReadStoresIntoTheCellBeingEdited) {
    CustomConfigWindow* form = open();
    ASSERT_NE(form, nullptr);
    clickCell(form, 1, 4);
    typeKeys(text1(form), "3c");

    press(form, "data_read");
    ASSERT_TRUE(waitForStat(form, "Read OK!"));
    EXPECT_EQ(cellText(form, 4), "B3") << "starting the read committed nothing";

    ASSERT_TRUE(text1(form)->isVisible());
    pressKey(text1(form), Qt::Key_Return);
    EXPECT_EQ(cellText(form, 4), "3C");
    EXPECT_FALSE(form->memory().cell(16).changed);
}

TEST_F(CustomConfigWindowTest, ClosingDiscardsEverything) {
    QPointer<CustomConfigWindow> form = open();
    ASSERT_NE(form, nullptr);
    press(form, "read_err_stack");
    ASSERT_TRUE(waitForStat(form, "Read OK!"));
    clickCell(form, 1, 2);
    enter(form, "11");
    ASSERT_TRUE(form->memory().cell(2).changed);
    const auto sentBefore = rig.sent().size();

    closeForm(form);
    CustomConfigWindow* again = open();
    ASSERT_NE(again, nullptr);
    EXPECT_FALSE(again->memory().cell(2).changed);
    EXPECT_EQ(stat(again), "");
    EXPECT_EQ(child(again, "err_stack_0")->text(), "");
    EXPECT_EQ(rig.sent().size(), sentBefore); // nothing written on closing
}

TEST_F(CustomConfigWindowTimedTest, ClosingTheWindowDuringReadEndsItQuietly) {
    QPointer<CustomConfigWindow> form = open();
    ASSERT_NE(form, nullptr);
    press(form, "data_read");
    ASSERT_TRUE(runUntil([&] { return rig.writes() == 3; }));
    closeForm(form);
    ASSERT_TRUE(runUntil([&] { return rig.idle(); }));
    runUntil([] { return false; }, 30ms);
    EXPECT_EQ(rig.writes(), 3);

    // The link is free for the next opening.
    CustomConfigWindow* again = open();
    ASSERT_NE(again, nullptr);
    press(again, "data_read");
    ASSERT_TRUE(waitForStat(again, "Read OK!"));
    EXPECT_EQ(cellText(again, 16), "BF");
}

TEST_F(CustomConfigWindowTimedTest, ClosingTheMainWindowDuringWriteEndsItQuietly) {
    QPointer<CustomConfigWindow> form = open();
    ASSERT_NE(form, nullptr);
    clickCell(form, 1, 3);
    enter(form, "A5");
    clickCell(form, 1, 11);
    enter(form, "3C");
    press(form, "data_write");
    ASSERT_TRUE(runUntil([&] { return rig.writes() == 2; }));

    rig.window().close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
    runUntil([] { return false; }, 50ms);
    EXPECT_EQ(rig.writes(), 2);
    EXPECT_TRUE(rig.log().isEmpty());
}

} // namespace
