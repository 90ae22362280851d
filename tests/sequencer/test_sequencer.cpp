#include "sequencer_rig.h"

#include <gtest/gtest.h>

using namespace std::chrono;
using namespace valve;
using sequencer::RowLook;
using sequencer::RunEnd;
using valve::testing::kMovesOf50msAStep;
using valve::testing::kUnusable;
using valve::testing::runUntil;
using valve::testing::SequencerRig;

namespace {

const QLocale kEnglish{QLocale::English, QLocale::UnitedStates};

// Nothing marked as running or done, and Run can be pressed again.
void expectReady(SequencerRig& rig) {
    EXPECT_TRUE(rig.allIdle());
    EXPECT_TRUE(rig.table.runEnabled());
}

// What the routine reader's tests do not meet.
TEST(EventTimesAndPositions, ReadWithTheUsersDecimalSeparatorPositionsRoundingTiesToEven) {
    for (const char* refused : {"nan", "inf", "2.5s", "two", ""}) {
        EXPECT_EQ(sequencer::eventTime(QString::fromLatin1(refused), kEnglish), std::nullopt) << refused;
    }
    EXPECT_EQ(sequencer::eventPosition(QStringLiteral("3.5"), kEnglish), 4);
    EXPECT_EQ(sequencer::eventPosition(QStringLiteral("2.5"), kEnglish), 2);
    EXPECT_EQ(sequencer::eventPosition(QStringLiteral("-1"), kEnglish), std::nullopt);
    EXPECT_EQ(sequencer::eventPosition(QStringLiteral("70000"), kEnglish), std::nullopt);
    EXPECT_EQ(sequencer::formatSeconds(0.3 - 0.1, kEnglish), QStringLiteral("0.2"));
    EXPECT_EQ(sequencer::toMilliseconds(0.0625), 62ms); // ties to the even millisecond
    EXPECT_EQ(sequencer::toMilliseconds(0.1875), 188ms);
}

TEST(SequencerRun, StepsAreDueAtTheirAbsoluteTimesInTheUsersFormatAndEqualTimesFollowAtOnce) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    SequencerRig rig;
    rig.log.show_msg(QStringLiteral("line of an earlier command"));
    const auto end = rig.run({{"0", "2"}, {"0,05", "3"}, {"0,05", "4,0"}, {"0,1", "5"}});
    QLocale::setDefault(saved);
    ASSERT_EQ(end, RunEnd::Finished);
    // The log holds only this run's lines.
    EXPECT_EQ(rig.log.lines(), QStringList({"Waited 0 seconds", "Position set to 2", "Waited 0,05 seconds",
                                            "Position set to 3", "Waited 0 seconds", "Position set to 4",
                                            "Waited 0,05 seconds", "Position set to 5"}));
    EXPECT_EQ(std::tuple(rig.table.dues, rig.table.currentPosition()),
              std::tuple(std::vector<nanoseconds>{0ms, 50ms, 50ms, 100ms}, "5"));
    expectReady(rig);
}

TEST(SequencerRun, ASlowMoveDelaysOnlyItsNextStepNotTheOnesAfter) {
    SequencerRig rig(kMovesOf50msAStep); // the move to 3 takes 100 ms, past the second step's time
    ASSERT_EQ(rig.run({{"0", "3"}, {"0.05", "4"}, {"0.2", "5"}}), RunEnd::Finished);
    EXPECT_EQ(rig.table.dues, (std::vector<nanoseconds>{0ms, 50ms, 200ms}));
}

TEST(SequencerRun, AfterASleepOverdueStepsGoAtOnceInOrderAndLaterOnesKeepTheirTimes) {
    SequencerRig rig;
    // Held: a step that waited now would hold the run up for good.
    ASSERT_TRUE(rig.startHeld({{"0", "2"}, {"1", "3"}, {"2", "4"}, {"60.3", "5"}}));
    rig.clock.sleep(60s); // rows 1 and 2 fall due meanwhile
    ASSERT_TRUE(rig.reaches(3));
    rig.clock.sleep(100ms); // ends before row 3 is due: it holds nothing up
    rig.clock.release();
    ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));
    EXPECT_EQ(rig.log.lines(),
              QStringList({"Waited 0 seconds", "Position set to 2",
                           "The run was held up for 59 seconds while the computer was asleep",
                           "Waited 1 seconds", "Position set to 3", "Waited 1 seconds", "Position set to 4",
                           "Waited 58.3 seconds", "Position set to 5"}));
    EXPECT_EQ(rig.table.dues, (std::vector<nanoseconds>{0s, 1s, 2s, 60300ms}));
}

QStringList stopLine(int row) {
    return {QStringLiteral("Timed Events stopped due to incorrect timing in the event table (at time %1)")
                .arg(row)};
}

TEST(SequencerRun, ATableThatCannotBeRunIsRefusedWithItsReasonAndMovesNothing) {
    const QString tooLate =
        QStringLiteral("Could not set delay - maximum delay time is 604800.00 seconds (1 week)");
    const QString early =
        QStringLiteral("Could not set delay - Event time %1 can not occur earlier than previous event");
    // A timing fault of a row comes before its other faults; a negative first time is early; gaps before the
    // last complete row count, the first row included.
    const struct {
        std::vector<std::pair<QString, QString>> rows;
        QString box;
        QStringList log = {};
    } cases[] = {
        {{{"1", "2"}, {"604800.001", "3"}}, tooLate, stopLine(2)},
        {{{"10", "2"}, {"5", "999"}}, early.arg(2), stopLine(2)},
        {{{"-1", "x"}}, early.arg(1), stopLine(1)},
        {{{"", "2"}, {"5", ""}}, "Please enter a valid time sequence."},
        {{{"soon", "1"}}, kUnusable},
        {{{"1", "1"}, {"2", "256"}}, kUnusable},
        {{{"1", "x"}}, kUnusable},
        {{{"", ""}, {"1", "1"}}, kUnusable},
        {{{"0", "2"}, {"", ""}, {"1", "3"}}, kUnusable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows.back().first.toStdString() + "," + c.rows.back().second.toStdString());
        SequencerRig rig;
        ASSERT_EQ(rig.run(c.rows), RunEnd::Refused);
        EXPECT_EQ(std::tuple(rig.boxes.texts, rig.log.lines(), rig.moves()),
                  std::tuple(QStringList{c.box}, c.log, QList<QByteArray>{}));
        expectReady(rig);
    }
}

TEST(SequencerRun, OneWeekAndATrailingTimeOnlyRowPassAndStopEndsTheWaitAtOnce) {
    SequencerRig rig;
    ASSERT_TRUE(rig.startHeld({{"0", "2"}, {"604800", "3"}, {"1", ""}}));
    EXPECT_FALSE(rig.table.runEnabled());

    rig.sequencer.btnStop_Click();
    EXPECT_EQ(std::tuple(rig.end, rig.log.lines().last(), rig.moves()),
              std::tuple(RunEnd::Stopped, "User stopped execution", QList<QByteArray>{"P02\r"}));
    expectReady(rig);
}

TEST(SequencerRun, AFailedMoveNamesItsZeroBasedStepAndKeepsTheRunningLook) {
    SequencerRig rig;
    // The unit refuses position 13 and does not answer.
    ASSERT_EQ(rig.run({{"0", "2"}, {"0.01", "3"}, {"0.02", "13"}, {"0.03", "4"}}), RunEnd::MoveFailed);
    EXPECT_EQ(rig.boxes.texts, QStringList{"Could not achieve Position 13, in step 2"});
    EXPECT_EQ(rig.log.lines().last(),
              QStringLiteral("Error - Could not set position, make sure position is valid."));
    EXPECT_EQ(rig.moves(), QList<QByteArray>({"P02\r", "P03\r", "P0D\r"}));
    EXPECT_EQ(
        std::tuple(rig.table.look(1), rig.table.look(2), rig.table.runEnabled(), rig.table.stopEnabled()),
        std::tuple(RowLook::Done, RowLook::Current, false, true)); // Stop: the way out
}

TEST(SequencerRun, RunStaysDisabledAfterStopUntilTheMoveUnderWayHasEnded) {
    SequencerRig rig(kMovesOf50msAStep);
    rig.startRun({{"0", "3"}, {"10", "5"}});
    ASSERT_TRUE(runUntil([&] { return rig.moves().size() == 1; }));
    rig.sequencer.btnStop_Click();
    EXPECT_EQ(std::tuple(rig.table.runEnabled(), rig.sequencer.runUnderWay()), std::tuple(false, true));
    // A second press now starts nothing: the log is not cleared.
    EXPECT_EQ(valve::testing::await(rig.sequencer.btnRun_Click()), RunEnd::EndedQuietly);
    EXPECT_TRUE(rig.log.lines().contains(QStringLiteral("User stopped execution")));

    ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));
    EXPECT_EQ(std::tuple(rig.log.lines().last(), rig.moves().size()), std::tuple("Position set to 3", 1));
    expectReady(rig);
}

TEST(SequencerRun, ARowEditedIntoSomethingUnusableEndsTheRunWhenReached) {
    for (const auto& edit :
         std::vector<std::pair<QString, QString>>{{"0.15", "four"}, {"0.01", "4"}, {"", "4"}}) {
        SequencerRig rig;
        ASSERT_TRUE(rig.startHeld({{"0", "2"}, {"0.1", "3"}, {"0.15", "4"}}));
        rig.table.setRow(2, edit.first, edit.second);
        rig.clock.release();
        ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));
        EXPECT_EQ(rig.boxes.texts, QStringList{kUnusable}) << edit.first.toStdString();
        EXPECT_EQ(rig.moves(), QList<QByteArray>({"P02\r", "P03\r"}));
        expectReady(rig);
    }
}

} // namespace
