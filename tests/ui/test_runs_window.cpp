// The Runs window: the journals the run journal writes, listed, drawn and exported.
#include "prompt_doubles.h"
#include "sequencer/run_journal.h"
#include "ui/run_chart.h"
#include "ui/runs_window.h"

#include <QFile>
#include <QFileDialog>
#include <QLineSeries>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace valve::ui {
namespace {

using sequencer::StepRecord;

const QDateTime kDayOne(QDate(2026, 1, 1), QTime(10, 0), Qt::UTC);

sequencer::JournalHeader header(const QDateTime& start, const QString& routine,
                                QList<sequencer::PlannedStep> steps) {
    sequencer::JournalHeader h;
    h.steps = std::move(steps);
    h.routine = routine;
    h.start = start;
    h.bootId = sequencer::currentBootId();
    h.origin = QStringLiteral("window");
    return h;
}

// A move answered 40 ms after it was sent, `late` ms after it was due.
StepRecord moved(int step, int position, double dueMs, double late, const QDateTime& start) {
    const auto sentAt = start.addMSecs(static_cast<qint64>(dueMs + late));
    return {step, position, dueMs,    dueMs + late,      sentAt,
            true, true,     position, dueMs + late + 40, sentAt.addMSecs(40)};
}

void sendAndAnswer(sequencer::RunJournal& journal, const StepRecord& step) {
    journal.sent(step);
    journal.answered(step);
}

QXYSeries* series(RunsWindow& window, const QString& name) {
    const QList<QAbstractSeries*> all = window.chart().chart()->series();
    const auto found = std::ranges::find(all, name, &QAbstractSeries::name);
    return found == all.end() ? nullptr : static_cast<QXYSeries*>(*found);
}

QStringList row(QTableWidget& table, int r) {
    QStringList cells;
    for (int c = 1; c < table.columnCount(); ++c) { // the start is local time
        cells << table.item(r, c)->text();
    }
    return cells;
}

// Two finished runs, one stopped after a hold-up, and a file that is no journal.
struct Folder {
    QTemporaryDir dir;
    sequencer::JournalFolder journals{dir.path()};
    StepRecord first = moved(0, 2, 0, 0.5, kDayOne);
    StepRecord second = moved(1, 3, 10'000, 1.25, kDayOne);

    Folder() {
        const auto say = [](const QString&) {};
        auto stopped = journals.begin(header(kDayOne, "flush.csv", {{0, 2}, {10, 3}, {20, 1}}), say);
        sendAndAnswer(*stopped, first);
        stopped->heldUp({.step = 1, .seconds = 30, .at = kDayOne.addSecs(5)});
        sendAndAnswer(*stopped, second);
        stopped->ended({"stopped", "window", {}, kDayOne.addSecs(15)});
        auto done = journals.begin(header(kDayOne.addDays(1), {}, {{0, 4}}), say);
        sendAndAnswer(*done, moved(0, 4, 0, 0.75, kDayOne.addDays(1)));
        done->ended({"completed", {}, {}, kDayOne.addDays(1).addSecs(1)});
        QFile damaged(journals.pathOf("20260103-000000-1"));
        EXPECT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write("not a journal\n");
    }
};

TEST(RunsWindow, ListsEachJournalNewestFirstAndDrawsTheSelectedRun) {
    Folder folder;
    testing::ScriptedBoxes boxes;
    RunsWindow window(folder.dir.path(), boxes);
    QTableWidget& table = window.table();
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.item(0, 0)->text(), "20260103-000000-1");
    EXPECT_TRUE(table.item(0, 3)->text().startsWith("cannot be read: "))
        << table.item(0, 3)->text().toStdString();
    EXPECT_EQ(row(table, 1), QStringList({"(table)", "1 of 1", "completed", "0.75 ms"}));
    EXPECT_EQ(row(table, 2), QStringList({"flush.csv", "2 of 3", "stopped", "1.25 ms"}));
    // The damaged file is selected first: nothing drawn, nothing to export.
    EXPECT_TRUE(window.chart().chart()->series().isEmpty());
    EXPECT_FALSE(window.findChild<QPushButton*>("btnExportCsv")->isEnabled());

    window.select(table.item(2, 0)->data(Qt::UserRole).toString());
    const QList<QPointF> planned{{0, 2}, {10, 2}, {10, 3}, {20, 3}, {20, 1}};
    const QList<QPointF> moves{{0.0005, 2}, {10.00125, 3}};
    ASSERT_NE(series(window, "planned"), nullptr);
    EXPECT_EQ(series(window, "planned")->points(), planned);
    EXPECT_EQ(series(window, "move (hover: deviation)")->points(), moves);
    EXPECT_EQ(series(window, "held up (computer asleep)")->points(), QList<QPointF>({{10, 2}}));
    EXPECT_EQ(window.chart().tipAt(moves[1]), "step 2: position 3, deviation 1.25 ms");
    EXPECT_EQ(window.chart().chart()->series().size(), 4); // ended: no unfinished mark

    // Export CSV… asks where, then writes the run's steps there.
    window.findChild<QPushButton*>("btnExportCsv")->click();
    QFileDialog* dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (dialog = window.findChild<QFileDialog*>()) != nullptr; }));
    QFile csv(folder.dir.filePath("run.csv"));
    dialog->selectFile(csv.fileName());
    QMetaObject::invokeMethod(dialog, "accept");
    ASSERT_TRUE(QTest::qWaitFor([&] { return csv.open(QIODevice::ReadOnly); }));
    const auto at = [](const QDateTime& t) { return sequencer::journalTime(t); };
    EXPECT_EQ(QString::fromUtf8(csv.readAll()),
              "step,due_s,position,sent_at,deviation_ms,answered_at,reported,reached\n"
              "1,0.000,2," +
                  at(folder.first.sentAt) + ",0.50," + at(folder.first.answeredAt) + ",2,yes\n" +
                  "2,10.000,3," + at(folder.second.sentAt) + ",1.25," + at(folder.second.answeredAt) +
                  ",3,yes\n" + "3,20.000,1,,,,,\n");
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST(RunsWindow, ARunUnderWayDrawsOnAsItsJournalGrows) {
    QTemporaryDir dir;
    sequencer::JournalFolder journals(dir.path());
    testing::ScriptedBoxes boxes;
    RunsWindow window(dir.path(), boxes);
    const QDateTime start = QDateTime::currentDateTimeUtc();
    // Begun while the window is open: the folder's watch finds it.
    auto journal = journals.begin(header(start, "grow.csv", {{0, 1}, {1, 5}}), [](const QString&) {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.table().rowCount() == 1; }));
    window.select(journal->id());
    EXPECT_EQ(series(window, "under way")->points(), QList<QPointF>({{0, 1}}));
    EXPECT_TRUE(series(window, "move (hover: deviation)")->points().isEmpty());

    sendAndAnswer(*journal, moved(0, 1, 0, 0.3, start));
    ASSERT_TRUE(QTest::qWaitFor([&] { return series(window, "move (hover: deviation)")->count() == 1; }));
    sendAndAnswer(*journal, moved(1, 5, 1000, 0.2, start));
    ASSERT_TRUE(QTest::qWaitFor([&] { return series(window, "move (hover: deviation)")->count() == 2; }));
    EXPECT_EQ(series(window, "under way")->points(), QList<QPointF>({{1.0002, 5}}));
    EXPECT_EQ(row(window.table(), 0), QStringList({"grow.csv", "2 of 2", "under way", "0.30 ms"}));

    journal->ended({"completed", {}, {}, start.addSecs(2)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.table().item(0, 3)->text() == "completed"; }));
    EXPECT_EQ(series(window, "under way"), nullptr);
}

} // namespace
} // namespace valve::ui
