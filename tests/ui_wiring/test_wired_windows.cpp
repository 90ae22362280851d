#include "panel_rig.h"
#include "sequencer/run_journal.h"
#include "ui/routine_files.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using namespace valve::testing;

// What the editor accepts is tested in tests/config; here the widget over its cell.
TEST(CustomConfigWindow, OpensOnceAndItsCellEditorOpensOverItsCellAndStoresUpperCaseOrComplains) {
    PanelRig rig;
    ASSERT_TRUE(rig.startClean());
    rig.c().Command1->click();
    rig.c().Command1->click();
    ASSERT_EQ(openForms().size(), 1) << "one window at most";
    QWidget* form = openForms().first();
    auto* grid = form->findChild<QTableWidget*>("MSFlexGrid1");
    auto* text1 = form->findChild<QLineEdit*>("Text1");
    const auto enter = [&](int column, const QString& text, Qt::Key key = Qt::Key_Return) {
        clickCell(grid, 1, column);
        typeKeys(text1, text);
        pressKey(text1, key);
    };
    ASSERT_EQ(grid->columnCount(), 17);
    EXPECT_EQ(grid->item(1, 0)->text() + grid->item(0, 16)->text(), "Data1F");
    EXPECT_LE(grid->rowViewportPosition(1) + grid->rowHeight(1), grid->viewport()->height());
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
    clickCell(grid, 0, 4); // a heading opens nothing
    EXPECT_FALSE(text1->isVisible());
    clickCell(grid, 1, 4);
    ASSERT_TRUE(text1->isVisible());
    const QPoint viewport = grid->viewport()->mapTo(form, QPoint());
    EXPECT_EQ(text1->geometry(), grid->visualItemRect(grid->item(1, 4)).translated(viewport));

    enter(4, "a5");
    EXPECT_FALSE(text1->isVisible());
    EXPECT_EQ(grid->item(1, 4)->text(), "A5");
    EXPECT_NE(grid->item(1, 4)->background(), grid->item(1, 5)->background()) << "marked until written";
    enter(5, "a5f");
    EXPECT_EQ(rig.boxes.texts + rig.boxes.captions,
              QStringList({"Data must be in 00-FF range", "Data Error"}));
    EXPECT_EQ(text1->isVisible() ? text1->text() + grid->item(1, 5)->text() : "<closed>", "A5F");
    enter(4, "7", Qt::Key_Escape);
    EXPECT_FALSE(text1->isVisible());
    EXPECT_EQ(grid->item(1, 4)->text(), "A5");
    EXPECT_TRUE(rig.sent().isEmpty());
}

// The "Timed Events" tab; how a run goes is tested in tests/sequencer.
class TimedEventsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rig.startClean()); }
    const valve::ui::MainWindowControls& c() { return rig.c(); }
    void setRow(int row, const QString& time, const QString& position) {
        c().txtTime[row]->setText(time);
        c().txtPos[row]->setText(position);
    }
    // Bold number, time and position; which of the two boxes can still be edited.
    std::array<bool, 5> look(int row) {
        return {c().lblEventNo[row]->font().bold(), c().txtTime[row]->font().bold(),
                c().txtTime[row]->isEnabled(), c().txtPos[row]->font().bold(), c().txtPos[row]->isEnabled()};
    }

    QTemporaryDir dir;
    valve::sequencer::JournalFolder journals{dir.filePath("runs")};
    PanelRig rig{{"NR Valve"},
                 valve::sim::UnitTiming::instant(),
                 {150ms, 10ms, 1ms},
                 nullptr,
                 {.journals = &journals}};
};

TEST_F(TimedEventsTest, ARunShowsTheRowLooksAndTheCurrentPosition) {
    constexpr std::array<bool, 5> kIdle{false, false, true, false, true};
    setRow(0, "0", "4");
    setRow(1, "60", "5");
    c().btnRun->click();
    ASSERT_TRUE(runUntil([&] { return c().lblEventNo[1]->font().bold(); }));
    EXPECT_EQ(look(0), (std::array<bool, 5>{true, true, false, true, false}));
    EXPECT_EQ(look(1), (std::array<bool, 5>{true, true, false, false, true})) << "its position can change";
    EXPECT_EQ(look(2), kIdle);
    EXPECT_EQ(std::tuple(c().btnRun->isEnabled(), c().btnStop->isEnabled(), c().position->text()),
              std::tuple(false, true, "4"));

    c().btnStop->click();
    ASSERT_TRUE(runUntil([&] { return c().btnRun->isEnabled(); }));
    EXPECT_EQ(look(0), kIdle);
    EXPECT_EQ(look(1), kIdle);
}

// A run's journal names the routine file only while the table holds it as loaded.
TEST_F(TimedEventsTest, ARoutineFileIsTakenWholeOrNotAtAllNotWhileARunHoldsTheTableAndNamedInItsRuns) {
    auto* files = rig.window().findChild<valve::ui::RoutineFiles*>();
    const QString saved = dir.filePath("week.routine");
    const QString missing = dir.filePath("missing.routine");
    setRow(0, "0", "3");
    setRow(1, "2.5", "4");
    await(files->save(saved));
    setRow(1, "60", "5");
    await(files->load(missing));
    c().btnRun->click();
    await(files->load(saved));
    c().btnStop->click();
    EXPECT_EQ(c().txtTime[1]->text(), "60") << "both loads left the table as it was";
    ASSERT_TRUE(runUntil([&] { return c().btnRun->isEnabled(); }));
    c().txtTime[1]->clear();
    rig.window().findChild<QAction*>("mnuSaveRoutine")->trigger(); // refused before a name is asked for

    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "0,3\n2.5,4\n");
    const QStringList told{"Could not load the routine: " + missing,
                           "Could not load a routine while a run holds the Timed Events table.",
                           "Could not save the table as a routine: event 2: "};
    ASSERT_EQ(rig.boxes.texts.size(), told.size());
    for (int i = 0; i < told.size(); ++i) {
        EXPECT_TRUE(rig.boxes.texts[i].startsWith(told[i])) << rig.boxes.texts[i].toStdString();
    }
    for (const QString& edit : {QString(), QStringLiteral("5")}) {
        await(files->load(saved));
        EXPECT_EQ(c().txtTime[1]->text() + " " + c().txtPos[1]->text(), "2.5 4");
        if (!edit.isEmpty()) {
            c().txtPos[1]->setText(edit);
        }
        const qsizetype runs = journals.ids().size();
        c().btnRun->click();
        ASSERT_TRUE(runUntil([&] { return journals.ids().size() == runs + 1; }));
        c().btnStop->click();
        ASSERT_TRUE(runUntil([&] { return c().btnRun->isEnabled(); }));
        QFile journal(journals.pathOf(journals.ids().first()));
        ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
        EXPECT_EQ(valve::sequencer::readJournal(journal.readAll()).journal.header.routine,
                  edit.isEmpty() ? saved : QString());
    }
}

} // namespace
