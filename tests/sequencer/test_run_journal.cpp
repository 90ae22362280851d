#include "sequencer/run_journal.h"
#include "sequencer_rig.h"

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace std::chrono;
using namespace valve;
using sequencer::RunEnd;
using valve::testing::runUntil;
using valve::testing::SequencerRig;

namespace {

const sim::UnitTiming kMovesOf50msAStep{sim::SimDuration{0}, sim::SimDuration{0}, 50ms};

// The newest journal, which should be the only one unless told.
sequencer::JournalReading readNewest(const sequencer::JournalFolder& folder, qsizetype journals = 1) {
    EXPECT_EQ(folder.ids().size(), journals);
    QFile file(folder.pathOf(folder.ids().value(0)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return sequencer::readJournal(file.readAll());
}

TEST(RunJournal, EachWayARunEndsIsWrittenWithTheStepsThatWentAndWhoEndedIt) {
    using Rows = std::vector<std::pair<QString, QString>>;
    using During = std::function<void(SequencerRig&)>; // with the clock held at row 1's wait
    struct Case {
        const char* what;
        Rows rows;
        During during;
        QString how, by, line;
        int sent, done;
    };
    const Rows twoSteps{{"0", "2"}, {"30", "3"}};
    const During byValvectl = [](SequencerRig& r) { r.sequencer.stopFor("valvectl"); };
    const During inTheWindow = [](SequencerRig& r) { r.sequencer.btnStop_Click(); };
    const During bySignal = [](SequencerRig& r) { r.sequencer.shut_down_for("SIGTERM"); };
    const QString failed = QStringLiteral("Could not achieve Position 13, in step 1");
    const QList<Case> cases{
        {"to its end", twoSteps, {}, "completed", {}, {}, 2, 2},
        {"stopped by valvectl", twoSteps, byValvectl, "stopped", "valvectl", {}, 1, 1},
        {"stopped in the window", twoSteps, inTheWindow, "stopped", "window", {}, 1, 1},
        {"a signal closes the program", twoSteps, bySignal, "shut down", "SIGTERM", {}, 1, 1},
        {"a move fails", {{"0", "2"}, {"30", "13"}}, {}, "failed", {}, failed, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        sequencer::JournalFolder folder(dir.path());
        SequencerRig rig(sim::UnitTiming::instant(), nullptr, nullptr, &folder);
        rig.clock.held = true;
        rig.startRun(c.rows);
        ASSERT_TRUE(rig.reaches(1));
        if (c.during) {
            c.during(rig);
        }
        rig.clock.release();
        runUntil([&] { return rig.end.has_value(); });

        const sequencer::JournalReading reading = readNewest(folder);
        ASSERT_EQ(reading.problem, sequencer::JournalProblem::None);
        const sequencer::Journal& j = reading.journal;
        EXPECT_EQ(j.header.origin, QStringLiteral("window"));
        EXPECT_EQ(j.header.steps.size(), 2);
        EXPECT_EQ(j.steps.size(), c.sent);
        EXPECT_EQ(j.stepsDone(), c.done);
        ASSERT_TRUE(j.end.has_value());
        EXPECT_EQ(j.end->how, c.how);
        EXPECT_EQ(j.end->by, c.by);
        EXPECT_EQ(j.end->line, c.line);
        if (c.sent == 2) {
            EXPECT_EQ(j.steps[1].dueMs, 30000.0);
            EXPECT_GE(j.steps[1].deviationMs(), 0.0);
        }
    }
}

TEST(RunJournal, TellsAMoveSentButNotAnsweredHoldUpsAndTheRunsOwnContext) {
    QTemporaryDir dir;
    sequencer::JournalFolder folder(dir.path());
    SequencerRig rig(kMovesOf50msAStep, nullptr, nullptr, &folder);
    rig.clock.held = true;
    rig.sequencer.setNextRun({"valvectl", "flush.txt", "20261207-101500-77"});
    rig.startRun({{"0", "2"}, {"1", "3"}, {"120", "4"}});
    ASSERT_TRUE(rig.reaches(1));
    rig.clock.sleep(60s);
    ASSERT_TRUE(runUntil([&] { return rig.moves().size() == 2; }));
    // The second move is on its way: the journal says so before the unit answers.
    const sequencer::JournalReading moving = readNewest(folder);
    ASSERT_EQ(moving.problem, sequencer::JournalProblem::None);
    ASSERT_EQ(moving.journal.steps.size(), 2);
    EXPECT_FALSE(moving.journal.steps[1].answered);
    EXPECT_EQ(moving.journal.header.routine, QStringLiteral("flush.txt"));
    EXPECT_EQ(moving.journal.header.continues, QStringLiteral("20261207-101500-77"));
    EXPECT_EQ(moving.journal.header.origin, QStringLiteral("valvectl"));

    ASSERT_TRUE(rig.reaches(2));
    const sequencer::Journal j = readNewest(folder).journal;
    ASSERT_EQ(j.holdUps.size(), 1);
    EXPECT_EQ(j.holdUps[0].step, 1);
    EXPECT_EQ(j.holdUps[0].seconds, 59);
    EXPECT_TRUE(j.steps[1].reached);
    EXPECT_EQ(j.steps[1].reported, 3);
    rig.sequencer.btnStop_Click();
    rig.clock.release();
    ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));

    // The next run is the window's again, with nothing of the last one's context.
    rig.run({{"0", "5"}});
    const sequencer::JournalHeader second = readNewest(folder, 2).journal.header;
    EXPECT_EQ(second.origin, QStringLiteral("window"));
    EXPECT_TRUE(second.routine.isEmpty());
    EXPECT_TRUE(second.continues.isEmpty());
}

TEST(RunJournal, AnUnwritableFolderIsSaidOnceInTheRunsLinesAndRunsGoOnWithoutAJournal) {
    QTemporaryDir dir;
    QFile blocker(dir.path() + QStringLiteral("/runs"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    sequencer::JournalFolder folder(blocker.fileName());
    SequencerRig rig(sim::UnitTiming::instant(), nullptr, nullptr, &folder);
    for (const int said : {1, 0}) { // the next run says nothing more
        ASSERT_EQ(rig.run({{"0", "2"}, {"0.01", "3"}}), RunEnd::Finished);
        EXPECT_EQ(rig.log.lines().filter(QStringLiteral("The run's journal cannot be written in ")).size(),
                  said);
    }
    EXPECT_EQ(rig.moves(), QList<QByteArray>({"P02\r", "P03\r", "P02\r", "P03\r"}));
    EXPECT_TRUE(folder.ids().isEmpty());
}

} // namespace
