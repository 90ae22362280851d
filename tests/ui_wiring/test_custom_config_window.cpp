#include "../protocol/command_bench.h"
#include "ui/custom_config_window.h"
#include "ui/custom_config_wiring.h"
#include "ui/main_window.h"
#include "ui/main_window_controls.h"
#include "widget_checks.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::config::MemoryEditor;
using valve::testing::CommandBench;
using valve::testing::runUntil;
using valve::ui::CellEditor;
using valve::ui::CustomConfigWindow;
using valve::ui::MainWindow;

namespace {

class RecordingBoxes : public valve::link::MessageBoxes {
public:
    QStringList texts;
    QStringList captions;
    QCoro::Task<valve::link::BoxAnswer> message_box(QString text, valve::link::BoxButtons,
                                                    QString caption) override {
        texts << text;
        captions << caption;
        co_return valve::link::BoxAnswer::Ok;
    }
};

void pressKey(QWidget* widget, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

void typeInto(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        pressKey(widget, c.toUpper().unicode(), QString(c));
    }
}

void click(QWidget* widget, QPoint at) {
    const QPointF local(at);
    const QPointF global(widget->mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

class CustomConfigWindowTest : public ::testing::Test {
protected:
    explicit CustomConfigWindowTest(valve::sim::UnitTiming timing = valve::sim::UnitTiming::instant())
        : bench(timing) {}

    void SetUp() override {
        ASSERT_TRUE(bench.connected);
        for (int i = 0; i < 16; ++i) {
            memory()[0x10 + i] = static_cast<std::uint8_t>(0xB0 + i);
        }
        valve::ui::wireCustomConfiguration(*main, session);
        main->show();
    }

    std::array<std::uint8_t, 256>& memory() { return bench.unit().state().memory; }
    qsizetype writes() const { return bench.driver.callTexts().filter("FT_Write").size(); }

    QList<CustomConfigWindow*> openForms() const {
        QList<CustomConfigWindow*> forms;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* form = qobject_cast<CustomConfigWindow*>(widget); form && form->isVisible()) {
                forms << form;
            }
        }
        return forms;
    }
    CustomConfigWindow* open() {
        main->controls().Command1->click();
        const auto forms = openForms();
        return forms.size() == 1 ? forms.first() : nullptr;
    }
    static void closeForm(QPointer<CustomConfigWindow> form) {
        form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_TRUE(form.isNull());
    }

    template <typename T> static T* child(QWidget* form, const char* name) {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
    static QTableWidget* grid(QWidget* form) { return child<QTableWidget>(form, "MSFlexGrid1"); }
    static CellEditor* text1(QWidget* form) { return child<CellEditor>(form, "Text1"); }
    static QString stat(QWidget* form) { return child<QLineEdit>(form, "stat")->text(); }
    static QString cellText(QWidget* form, int column) { return grid(form)->item(1, column)->text(); }
    static void clickCell(QWidget* form, int row, int column) {
        QTableWidget* table = grid(form);
        click(table->viewport(), table->visualItemRect(table->item(row, column)).center());
    }
    static void enter(QWidget* form, const QString& text) {
        typeInto(text1(form), text);
        pressKey(text1(form), Qt::Key_Return);
    }
    static void press(QWidget* form, const char* button) { child<QPushButton>(form, button)->click(); }
    static bool waitForStat(QWidget* form, const QString& text) {
        return runUntil([&] { return stat(form) == text; });
    }

    CommandBench bench;
    RecordingBoxes boxes;
    valve::protocol::Session session{*bench.link, bench.log, boxes, *bench.exchange, *bench.positions};
    std::unique_ptr<MainWindow> main = std::make_unique<MainWindow>(bench.log, *bench.link, boxes);
};

class CustomConfigWindowTimedTest : public CustomConfigWindowTest {
protected:
    CustomConfigWindowTimedTest() : CustomConfigWindowTest(valve::sim::UnitTiming{}) {}
};

TEST_F(CustomConfigWindowTest, OpensOnceWithTheEmptyGrid) {
    CustomConfigWindow* form = open();
    ASSERT_NE(form, nullptr);
    main->controls().Command1->click();
    EXPECT_EQ(openForms(), QList<CustomConfigWindow*>{form});
    EXPECT_EQ(valve::testing::clippedCaptions(*form), QStringList{});

    EXPECT_EQ(form->objectName(), "Form2");
    EXPECT_EQ(form->windowTitle(), "Custom Configuration");
    EXPECT_EQ(form->parent(), nullptr);
    EXPECT_EQ(form->size(), QSize(583, 166));
    EXPECT_EQ(child<QPushButton>(form, "data_read")->text(), "Read");
    EXPECT_EQ(child<QPushButton>(form, "data_write")->geometry(), QRect(496, 16, 73, 33));
    EXPECT_EQ(child<QPushButton>(form, "read_err_stack")->text(), "Read Error Stack");
    EXPECT_EQ(child<QPushButton>(form, "clear_err_stack")->text(), "Clear Error Stack");
    EXPECT_EQ(child<QLineEdit>(form, "stat")->geometry(), QRect(184, 24, 217, 21));
    for (int i = 0; i < 5; ++i) {
        auto* box = child<QLineEdit>(form, QStringLiteral("err_stack_%1").arg(i).toLatin1().constData());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->geometry(), QRect(120 + 72 * i, 128, 57, 25));
        EXPECT_EQ(box->text(), "");
    }
    EXPECT_EQ(stat(form), "");

    QTableWidget* table = grid(form);
    ASSERT_EQ(table->rowCount(), 2);
    ASSERT_EQ(table->columnCount(), 17);
    EXPECT_EQ(table->geometry(), QRect(8, 64, 566, 38));
    EXPECT_EQ(table->item(0, 0)->text(), "Addr");
    EXPECT_EQ(table->item(1, 0)->text(), "Data");
    for (int column = 1; column <= 16; ++column) {
        EXPECT_EQ(table->item(0, column)->text(),
                  QStringLiteral("%1").arg(0x0F + column, 2, 16, QChar('0')).toUpper());
        EXPECT_EQ(cellText(form, column), "");
        EXPECT_EQ(table->columnWidth(column), 33);
        EXPECT_EQ(table->item(1, column)->textAlignment(), Qt::AlignCenter);
    }
    // Both rows lie wholly inside the grid, with no scroll bar.
    EXPECT_LE(table->rowViewportPosition(1) + table->rowHeight(1), table->viewport()->height());
    EXPECT_LE(table->columnViewportPosition(16) + table->columnWidth(16), table->viewport()->width());
    EXPECT_GE(table->rowHeight(1), 15);
    EXPECT_FALSE(table->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(table->verticalScrollBar()->isVisible());
    EXPECT_FALSE(text1(form)->isVisible());
    EXPECT_TRUE(bench.sent().isEmpty());
}

TEST_F(CustomConfigWindowTest, CellEditorChecksAndStoresWhatIsTyped) {
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
    EXPECT_TRUE(form->memory().cell(4).changed);
    EXPECT_NE(table->item(1, 4)->background(), table->item(1, 5)->background()); // the mark shows
    EXPECT_TRUE(boxes.texts.isEmpty());

    clickCell(form, 1, 5);
    for (const QString bad : {"5", "a5f", "G1", " 5"}) {
        text1(form)->clear();
        enter(form, bad);
        EXPECT_EQ(boxes.texts.value(boxes.texts.size() - 1), "Data must be in 00-FF range")
            << bad.toStdString();
        EXPECT_EQ(boxes.captions.value(boxes.captions.size() - 1), "Data Error");
        EXPECT_TRUE(text1(form)->isVisible());
        EXPECT_EQ(text1(form)->text(), bad.toUpper());
        EXPECT_EQ(cellText(form, 5), "");
        EXPECT_FALSE(form->memory().cell(5).changed);
    }
    EXPECT_EQ(boxes.texts.size(), 4);

    // Escape keeps the old text.
    clickCell(form, 1, 4);
    EXPECT_EQ(text1(form)->text(), "A5");
    typeInto(text1(form), "7");
    pressKey(text1(form), Qt::Key_Escape);
    EXPECT_FALSE(text1(form)->isVisible());
    EXPECT_EQ(cellText(form, 4), "A5");
    EXPECT_TRUE(bench.sent().isEmpty());
}

TEST_F(CustomConfigWindowTest, ReadEditWriteAndErrorStackOnTheUnit) {
    CustomConfigWindow* form = open();
    ASSERT_NE(form, nullptr);
    memory()[0x09] = 0x2C;

    press(form, "data_read");
    ASSERT_TRUE(waitForStat(form, "Read OK!"));
    EXPECT_EQ(bench.sent().size(), 16);
    EXPECT_EQ(cellText(form, 1), "B0");
    EXPECT_EQ(cellText(form, 16), "BF");

    clickCell(form, 1, 3);
    EXPECT_TRUE(text1(form)->isVisible());
    enter(form, "a5");
    EXPECT_EQ(cellText(form, 3), "A5");
    clickCell(form, 1, 11);
    enter(form, "3c");
    press(form, "data_write");
    ASSERT_TRUE(waitForStat(form, "Programming OK!"));
    EXPECT_EQ(bench.sent().mid(16),
              (QList<QByteArray>{"I12\r", "WA5\r", "G12\r", "I1A\r", "W3C\r", "G1A\r"}));
    EXPECT_EQ(memory()[0x12], 0xA5);
    EXPECT_EQ(memory()[0x1A], 0x3C);
    EXPECT_FALSE(form->memory().cell(3).changed);

    press(form, "read_err_stack");
    ASSERT_TRUE(waitForStat(form, "Read OK!") && bench.sent().size() == 27);
    EXPECT_EQ(child<QLineEdit>(form, "err_stack_2")->text(), "44");
    press(form, "clear_err_stack");
    ASSERT_TRUE(waitForStat(form, "Programming OK!"));
    EXPECT_EQ(memory()[0x09], 0);
    EXPECT_EQ(child<QLineEdit>(form, "err_stack_2")->text(), "44");

    EXPECT_TRUE(bench.logLines().isEmpty());
}

TEST_F(CustomConfigWindowTest, EnterAfterReadStoresIntoTheCellBeingEdited) {
    CustomConfigWindow* form = open();
    ASSERT_NE(form, nullptr);
    clickCell(form, 1, 4);
    typeInto(text1(form), "3c");

    press(form, "data_read");
    ASSERT_TRUE(waitForStat(form, "Read OK!"));
    // Starting the read committed nothing.
    for (int column = 1; column <= 16; ++column) {
        EXPECT_FALSE(form->memory().cell(column).changed) << column;
    }
    EXPECT_EQ(cellText(form, 4), "B3");
    EXPECT_EQ(form->memory().current().column, 16);

    ASSERT_TRUE(text1(form)->isVisible());
    pressKey(text1(form), Qt::Key_Return);
    EXPECT_EQ(cellText(form, 4), "3C");
    EXPECT_TRUE(form->memory().cell(4).changed);
    EXPECT_EQ(cellText(form, 16), "BF");
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
    const auto sentBefore = bench.sent().size();

    closeForm(form);
    CustomConfigWindow* again = open();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(cellText(again, 2), "");
    EXPECT_FALSE(again->memory().cell(2).changed);
    EXPECT_EQ(stat(again), "");
    EXPECT_EQ(child<QLineEdit>(again, "err_stack_0")->text(), "");
    EXPECT_EQ(bench.sent().size(), sentBefore); // nothing written on closing
}

TEST_F(CustomConfigWindowTimedTest, ClosingTheWindowDuringReadEndsItQuietly) {
    QPointer<CustomConfigWindow> form = open();
    ASSERT_NE(form, nullptr);
    press(form, "data_read");
    ASSERT_TRUE(runUntil([&] { return writes() == 3; }));
    closeForm(form);
    ASSERT_TRUE(runUntil([&] { return !bench.link->operations().busy(); }));
    runUntil([] { return false; }, 30ms);
    EXPECT_EQ(writes(), 3);

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
    ASSERT_TRUE(runUntil([&] { return writes() == 2; }));

    main->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull());
    ASSERT_TRUE(runUntil([&] { return !bench.link->operations().busy(); }));
    runUntil([] { return false; }, 30ms);
    EXPECT_EQ(writes(), 2);
    EXPECT_TRUE(bench.logLines().isEmpty());
}

} // namespace
