#include "link/wake_signal.h"
#include "sequencer/run_clock.h"
#include "sequencer_rig.h"

#include <gtest/gtest.h>

using namespace std::chrono;
using namespace valve;
using sequencer::RowLook;
using valve::testing::runUntil;
using valve::testing::SequencerRig;

namespace {

const QLocale kEnglish{QLocale::English, QLocale::UnitedStates};
const QLocale kGerman{QLocale::German, QLocale::Germany};
const QString kUnusable = QStringLiteral("Could not run the routine. Please double check that all fields "
                                         "have a valid time in seconds or are blank.");

// Nothing marked as running or done, and Run can be pressed again.
void expectReady(SequencerRig& rig) {
    EXPECT_TRUE(rig.allIdle());
    EXPECT_TRUE(rig.table.runEnabled());
}

TEST(EventTimesAndPositions, ReadWithTheUsersDecimalSeparatorPositionsRoundingTiesToEven) {
    const struct {
        const char* text;
        const QLocale& locale;
        std::optional<double> time;
        std::optional<int> position; // must fit one byte
    } cases[] = {
        {"3", kEnglish, 3, 3},           {"2.5", kEnglish, 2.5, 2},      {"3.5", kEnglish, 3.5, 4},
        {"3,5", kGerman, 3.5, 4},        {" 7 ", kEnglish, 7, 7},        {"0", kEnglish, 0, 0},
        {"255.4", kEnglish, 255.4, 255}, {"255.5", kEnglish, 255.5, {}}, {"-1", kEnglish, -1, {}},
        {"70000", kEnglish, 70000, {}},  {"2.5s", kEnglish, {}, {}},     {"", kEnglish, {}, {}},
        {"nan", kEnglish, {}, {}},       {"inf", kEnglish, {}, {}},      {"two", kEnglish, {}, {}},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromLatin1(c.text);
        EXPECT_EQ(sequencer::eventTime(text, c.locale), c.time) << c.text;
        const auto position = sequencer::eventPosition(text, c.locale);
        EXPECT_EQ(position ? std::optional<int>(*position) : std::nullopt, c.position) << c.text;
    }
    EXPECT_EQ(sequencer::formatSeconds(3.0, kEnglish), QStringLiteral("3"));
    EXPECT_EQ(sequencer::formatSeconds(0.3 - 0.1, kEnglish), QStringLiteral("0.2"));
    EXPECT_EQ(sequencer::formatSeconds(604800.0, kEnglish), QStringLiteral("604800"));
    EXPECT_EQ(sequencer::formatSeconds(2.5, kGerman), QStringLiteral("2,5"));
    EXPECT_EQ(sequencer::toMilliseconds(0.0625), 62ms); // ties to the even millisecond
    EXPECT_EQ(sequencer::toMilliseconds(0.1875), 188ms);
}

// The run's clock in the test's hands: a wait ends at once with the clock moved on to its due time, so the
// schedule comes out exact however busy the machine is, while real time still passes (a move takes its time
// on the unit). While `held`, a wait lasts until sleep() puts the computer to sleep or release() lets time
// pass.
struct TestClock final : sequencer::RunClock {
    [[nodiscard]] Duration now() const override { return real.now() + skipped; }
    [[nodiscard]] Duration asleep() const override { return real.asleep() + slept; }
    QCoro::Task<> sleepUntil(Duration due, link::WakeSignal& wake) override {
        if (held) {
            waiting = &wake;
            co_await wake.wait();
        } else {
            skipped += std::max(Duration{0}, due - now());
        }
    }
    void sleep(Duration span) {
        slept += span;
        skipped += span;
        waiting->notify(); // as the real clock's timer goes off on resume
    }
    void release() {
        held = false;
        waiting->notify();
    }

    sequencer::BootTimeClock real;
    Duration skipped{0};
    Duration slept{0};
    link::WakeSignal* waiting = nullptr;
    bool held = false;
};

using Dues = std::vector<nanoseconds>;

TEST(SequencerRun, StepsAreDueAtTheirAbsoluteTimesInTheUsersFormatAndEqualTimesFollowAtOnce) {
    const QLocale saved;
    QLocale::setDefault(kGerman);
    TestClock clock;
    SequencerRig rig(sim::UnitTiming::instant(), {.clock = &clock});
    rig.log.show_msg(QStringLiteral("line of an earlier command"));
    rig.setRows({{"0", "2"}, {"0,05", "3"}, {"0,05", "4,0"}, {"0,1", "5"}});
    const bool ended = rig.run();
    QLocale::setDefault(saved);
    ASSERT_TRUE(ended);
    // The log holds only this run's lines.
    EXPECT_EQ(rig.log.lines(), QStringList({"Waited 0 seconds", "Position set to 2", "Waited 0,05 seconds",
                                            "Position set to 3", "Waited 0 seconds", "Position set to 4",
                                            "Waited 0,05 seconds", "Position set to 5"}));
    EXPECT_EQ(rig.dues(), (Dues{0ms, 50ms, 50ms, 100ms}));
    EXPECT_EQ(rig.table.currentPosition(), QStringLiteral("5"));
    EXPECT_TRUE(rig.boxes.texts.isEmpty());
    expectReady(rig);
}

TEST(SequencerRun, ASlowMoveDelaysOnlyItsNextStepNotTheOnesAfter) {
    TestClock clock;
    // Each position step of a move takes 50 ms: the move to 3 takes 100 ms, past the second step's time.
    SequencerRig rig({sim::SimDuration{0}, sim::SimDuration{0}, 50ms}, {.clock = &clock});
    rig.setRows({{"0", "3"}, {"0.05", "4"}, {"0.2", "5"}});
    ASSERT_TRUE(rig.run());
    EXPECT_EQ(rig.dues(), (Dues{0ms, 50ms, 200ms}));
    EXPECT_GE(rig.table.reports[1].at, 100ms);
}

TEST(SequencerRun, AfterASleepOverdueStepsGoAtOnceInOrderAndLaterOnesKeepTheirTimes) {
    TestClock clock;
    clock.held = true; // a step that waited now would hold the run up for good
    SequencerRig rig(sim::UnitTiming::instant(), {.clock = &clock});
    rig.setRows({{"0", "2"}, {"1", "3"}, {"2", "4"}, {"60.3", "5"}});
    rig.startRun();
    ASSERT_TRUE(runUntil([&] { return rig.table.look(1) == RowLook::Current; }));
    clock.sleep(60s); // rows 1 and 2 fall due meanwhile
    ASSERT_TRUE(runUntil([&] { return rig.table.look(3) == RowLook::Current; }));
    clock.sleep(100ms); // ends before row 3 is due: it holds nothing up
    clock.release();
    ASSERT_TRUE(runUntil([&] { return rig.runEnded; }));

    EXPECT_EQ(rig.log.lines(),
              QStringList({"Waited 0 seconds", "Position set to 2",
                           "The run was held up for 59 seconds while the computer was asleep",
                           "Waited 1 seconds", "Position set to 3", "Waited 1 seconds", "Position set to 4",
                           "Waited 58.3 seconds", "Position set to 5"}));
    EXPECT_EQ(rig.dues(), (Dues{0s, 1s, 2s, 60300ms}));
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
        rig.setRows(c.rows);
        ASSERT_TRUE(rig.run());
        EXPECT_EQ(rig.boxes.texts, QStringList{c.box});
        EXPECT_EQ(rig.log.lines(), c.log);
        EXPECT_TRUE(rig.moves().isEmpty());
        expectReady(rig);
    }
}

TEST(SequencerRun, OneWeekAndATrailingTimeOnlyRowPassOtherCommandsGoOnAndStopEndsTheLongWaitAtOnce) {
    SequencerRig rig;
    rig.setRows({{"0", "2"}, {"604800", "3"}, {"1", ""}});
    rig.startRun();
    ASSERT_TRUE(runUntil([&] { return rig.table.look(1) == RowLook::Current; }));
    EXPECT_TRUE(rig.boxes.texts.isEmpty());
    EXPECT_FALSE(rig.table.runEnabled());

    // The run holds the link only for its moves.
    bool answered = false;
    [](SequencerRig& r, bool& done) -> QCoro::Task<> {
        auto turn = co_await r.link->operations().acquire("Read Status");
        done = co_await r.exchange->run("S\r", protocol::kValueReply);
    }(rig, answered);
    EXPECT_TRUE(runUntil([&] { return answered; }, milliseconds{500}));

    rig.sequencer.btnStop_Click();
    EXPECT_TRUE(rig.runEnded);
    EXPECT_EQ(rig.log.lines().last(), QStringLiteral("User stopped execution"));
    EXPECT_EQ(rig.moves(), QList<QByteArray>{"P02\r"});
    expectReady(rig);
}

TEST(SequencerRun, AFailedMoveNamesItsZeroBasedStepAndKeepsTheRunningLookUntilStop) {
    SequencerRig rig;
    // The unit refuses position 13 and does not answer.
    rig.setRows({{"0", "2"}, {"0.01", "3"}, {"0.02", "13"}, {"0.03", "4"}});
    ASSERT_TRUE(rig.run());
    EXPECT_EQ(rig.boxes.texts, QStringList{"Could not achieve Position 13, in step 2"});
    EXPECT_EQ(rig.log.lines().last(),
              QStringLiteral("Error - Could not set position, make sure position is valid."));
    EXPECT_EQ(rig.moves(), QList<QByteArray>({"P02\r", "P03\r", "P0D\r"}));
    EXPECT_EQ(rig.table.look(1), RowLook::Done);
    EXPECT_EQ(rig.table.look(2), RowLook::Current);
    EXPECT_EQ(rig.table.currentPosition(), QStringLiteral("3"));
    EXPECT_FALSE(rig.table.runEnabled());

    // Stop works with no run under way too.
    rig.sequencer.btnStop_Click();
    EXPECT_EQ(rig.log.lines().last(), QStringLiteral("User stopped execution"));
    expectReady(rig);
}

TEST(SequencerRun, RunStaysDisabledAfterStopUntilTheMoveUnderWayHasEnded) {
    // The move to 2 takes 100 ms.
    SequencerRig rig({sim::SimDuration{0}, sim::SimDuration{0}, milliseconds{100}});
    rig.setRows({{"0", "2"}, {"10", "5"}});
    rig.startRun();
    ASSERT_TRUE(runUntil([&] { return rig.moves().size() == 1; }));
    rig.sequencer.btnStop_Click();
    EXPECT_FALSE(rig.table.runEnabled());
    EXPECT_TRUE(rig.sequencer.runUnderWay());

    // A second press now starts nothing: the log is not cleared.
    EXPECT_TRUE(*valve::testing::start(rig.sequencer.btnRun_Click()));
    EXPECT_TRUE(rig.log.lines().contains(QStringLiteral("User stopped execution")));

    ASSERT_TRUE(runUntil([&] { return rig.runEnded; }, milliseconds{2000}));
    EXPECT_EQ(rig.log.lines().last(), QStringLiteral("Position set to 2"));
    EXPECT_TRUE(rig.table.runEnabled());
    EXPECT_TRUE(rig.allIdle());
    EXPECT_EQ(rig.moves().size(), 1);
}

TEST(SequencerRun, ARowEditedIntoSomethingUnusableEndsTheRunWhenReached) {
    for (const auto& edit :
         std::vector<std::pair<QString, QString>>{{"0.15", "four"}, {"0.01", "4"}, {"", "4"}}) {
        TestClock clock;
        clock.held = true;
        SequencerRig rig(sim::UnitTiming::instant(), {.clock = &clock});
        rig.setRows({{"0", "2"}, {"0.1", "3"}, {"0.15", "4"}});
        rig.startRun();
        ASSERT_TRUE(runUntil([&] { return rig.table.look(1) == RowLook::Current; }));
        rig.table.setRow(2, edit.first, edit.second);
        clock.release();
        ASSERT_TRUE(runUntil([&] { return rig.runEnded; }));
        EXPECT_EQ(rig.boxes.texts, QStringList{kUnusable}) << edit.first.toStdString();
        EXPECT_EQ(rig.moves(), QList<QByteArray>({"P02\r", "P03\r"}));
        expectReady(rig);
    }
}

TEST(SequencerRun, ClosingDuringAMoveEndsTheRunQuietly) {
    // With a move of 100 ms, the second row is due while the first move is under way.
    SequencerRig rig({sim::SimDuration{0}, sim::SimDuration{0}, milliseconds{100}});
    rig.setRows({{"0", "4"}, {"0.01", "5"}});
    rig.startRun();
    ASSERT_TRUE(runUntil([&] { return rig.moves().size() == 1; }));
    const auto logged = rig.log.lines();
    const auto sent = rig.wire().hostBytes();
    // In the order the main window closes: the log, then the link.
    rig.sequencer.shut_down();
    rig.log.close();
    rig.link->shut_down();
    EXPECT_TRUE(rig.runEnded);
    runUntil([] { return false; }, milliseconds{300});
    EXPECT_EQ(rig.wire().hostBytes(), sent);
    EXPECT_EQ(rig.log.lines(), logged);
    EXPECT_TRUE(rig.boxes.texts.isEmpty());
}

} // namespace
