// What a run asks of the computer beside the unit: a journal of its steps that says how it ended, a
// raised priority and a lock against sleep, each given back and each failure told once while the run goes on.
#include "private_realtimekit.h"
#include "sequencer/logind_sleep_inhibitor.h"
#include "sequencer/realtimekit_priority.h"
#include "sequencer/run_journal.h"
#include "sequencer_rig.h"

#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono;
using namespace valve;
using sequencer::RunEnd;
using valve::testing::kMovesOf50msAStep;
using valve::testing::kUnusable;
using valve::testing::runUntil;
using valve::testing::SequencerRig;

namespace {

// The newest journal, which should be the only one unless told, read whole.
sequencer::Journal readNewest(const sequencer::JournalFolder& folder, qsizetype journals = 1) {
    EXPECT_EQ(folder.ids().size(), journals);
    QFile file(folder.pathOf(folder.ids().value(0)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const sequencer::JournalReading reading = sequencer::readJournal(file.readAll());
    EXPECT_EQ(reading.problem, sequencer::JournalProblem::None) << reading.detail.toStdString();
    return reading.journal;
}

TEST(RunJournal, EachWayARunEndsIsWrittenWithTheStepsThatWentAndWhoEndedIt) {
    using Rows = std::vector<std::pair<QString, QString>>;
    using During = std::function<void(SequencerRig&)>; // with the clock held at row 1's wait
    struct Case {
        Rows rows;
        During during;
        RunEnd end;
        QString how, by, line;
        int sent, done;
    };
    const Rows twoSteps{{"0", "2"}, {"30", "3"}};
    const Rows threeSteps{{"0", "2"}, {"30", "3"}, {"31", "4"}};
    const Rows badSecond{{"0", "2"}, {"30", "13"}}; // the unit refuses 13
    const During nothing = [](SequencerRig&) {};
    const During byValvectl = [](SequencerRig& r) { r.sequencer.stopFor("valvectl"); };
    const During inTheWindow = [](SequencerRig& r) { r.sequencer.btnStop_Click(); };
    const During bySignal = [](SequencerRig& r) { r.sequencer.shut_down_for("SIGTERM"); };
    const During windowClosed = [](SequencerRig& r) { r.sequencer.shut_down(); };
    const During rowSpoilt = [](SequencerRig& r) { r.table.setRow(2, "31", "four"); };
    const QString failed = QStringLiteral("Could not achieve Position 13, in step 1");
    const QList<Case> cases{
        {twoSteps, nothing, RunEnd::Finished, "completed", {}, {}, 2, 2},
        {twoSteps, byValvectl, RunEnd::Stopped, "stopped", "valvectl", {}, 1, 1},
        {twoSteps, inTheWindow, RunEnd::Stopped, "stopped", "window", {}, 1, 1},
        {twoSteps, bySignal, RunEnd::EndedQuietly, "shut down", "SIGTERM", {}, 1, 1},
        {twoSteps, windowClosed, RunEnd::EndedQuietly, "shut down", "window", {}, 1, 1},
        {threeSteps, rowSpoilt, RunEnd::Refused, "failed", {}, kUnusable, 2, 2},
        {badSecond, nothing, RunEnd::MoveFailed, "failed", {}, failed, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.how + ' ' + c.by + ' ' + c.line).toStdString());
        QTemporaryDir dir;
        sequencer::JournalFolder folder(dir.path());
        SequencerRig rig(sim::UnitTiming::instant(), nullptr, nullptr, &folder);
        ASSERT_TRUE(rig.startHeld(c.rows));
        c.during(rig);
        rig.clock.release();
        ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));
        EXPECT_EQ(std::tuple(*rig.end, rig.moves().size()), std::tuple(c.end, c.sent));

        const sequencer::Journal j = readNewest(folder);
        EXPECT_EQ(std::tuple(j.header.origin, j.header.steps.size(), j.steps.size(), j.stepsDone()),
                  std::tuple("window", std::ssize(c.rows), c.sent, c.done));
        ASSERT_TRUE(j.end.has_value());
        EXPECT_EQ(std::tuple(j.end->how, j.end->by, j.end->line), std::tuple(c.how, c.by, c.line));
    }
}

TEST(RunJournal, TellsAMoveSentButNotAnsweredHoldUpsAndTheRunsOwnContext) {
    QTemporaryDir dir;
    sequencer::JournalFolder folder(dir.path());
    SequencerRig rig(kMovesOf50msAStep, nullptr, nullptr, &folder);
    rig.sequencer.setNextRun({"valvectl", "flush.txt", "20261207-101500-77", {}});
    ASSERT_TRUE(rig.startHeld({{"0", "2"}, {"1", "3"}, {"120", "4"}}));
    rig.clock.sleep(60s);
    ASSERT_TRUE(runUntil([&] { return rig.moves().size() == 2; }));
    // The second move is on its way: the journal says so before the unit answers.
    const sequencer::Journal moving = readNewest(folder);
    const sequencer::JournalHeader& first = moving.header;
    EXPECT_EQ(std::tuple(moving.steps.size(), moving.steps.value(1).answered, first.routine, first.continues,
                         first.origin),
              std::tuple(2, false, "flush.txt", "20261207-101500-77", "valvectl"));

    ASSERT_TRUE(rig.reaches(2));
    const sequencer::Journal j = readNewest(folder);
    EXPECT_EQ(std::tuple(j.holdUps.size(), j.holdUps.value(0).step, j.holdUps.value(0).seconds,
                         j.steps.value(1).reached, j.steps.value(1).reported),
              std::tuple(1, 1, 59, true, 3));
    rig.sequencer.btnStop_Click();
    rig.clock.release();
    ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));

    // The next run is the window's again, with nothing of the last one's context.
    rig.run({{"0", "5"}});
    const sequencer::JournalHeader second = readNewest(folder, 2).header;
    EXPECT_EQ(std::tuple(second.origin, second.routine, second.continues), std::tuple("window", "", ""));
}

// A resumed run starts a moment after it was planned (the unit is opened and read first): its steps
// keep the times of the plan, so the moment is not added to each of them.
TEST(RunJournal, AResumedRunKeepsTheTimesItWasPlannedOnHoweverLateItStarts) {
    QTemporaryDir dir;
    sequencer::JournalFolder folder(dir.path());
    SequencerRig rig(sim::UnitTiming::instant(), nullptr, nullptr, &folder);
    const QDateTime planned = QDateTime::currentDateTimeUtc().addSecs(-2);
    rig.sequencer.setNextRun({"valvectl", {}, "20261207-101500-77", planned});
    ASSERT_EQ(rig.run({{"1", "2"}, {"3", "3"}}), RunEnd::Finished);
    const sequencer::Journal j = readNewest(folder);
    EXPECT_EQ(std::tuple(j.header.start, j.steps.size(), j.steps.value(1).dueMs),
              std::tuple(planned, 2, 3000.0));
    EXPECT_GE(j.steps.value(0).sentMs, 2000); // overdue: it goes at once, a second late
    EXPECT_LT(j.steps.value(0).sentMs, 3000);
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

int niceOfThisThread() {
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
}

// The login manager's Inhibit: it hands out the write end of a pipe, and the
// lock lasts until every copy of that end is closed.
class LogindStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~LogindStandIn() override { ::close(lockEnd); }
    [[nodiscard]] bool held() const {
        pollfd end{lockEnd, POLLIN, 0};
        return lockEnd >= 0 && ::poll(&end, 1, 0) == 0;
    }

    bool refuse = false;
    QStringList asked;
    int lockEnd = -1;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString&, const QString&,
                                    const QString& mode) {
        asked << what + '/' + mode;
        int ends[2];
        if (refuse || ::pipe2(ends, O_CLOEXEC) != 0) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not allowed"));
            return {};
        }
        lockEnd = ends[0];
        const QDBusUnixFileDescriptor handed(ends[1]);
        ::close(ends[1]);
        return handed;
    }
};

// Against the real RealtimeKit daemon where it runs here, granting and refusing as its policy says;
// elsewhere against a bus without it (the output says which). The login manager is a stand-in on the bus.
TEST(RunServices, TheSleepLockAndThePriorityAreHeldWhileTheRunLastsAndEachFailureIsOneLineWhileTheRunGoesOn) {
    const QString kCannotSleep = QStringLiteral("The run cannot keep the computer from going to sleep");
    const QString kCannotRaise = QStringLiteral(
        "The run cannot raise its priority; other programs may delay its moves by a few milliseconds");
    enum class Logind { Grants, Refuses, Absent };
    for (const auto& [logind, policyAllows] :
         {std::pair{Logind::Grants, true}, std::pair{Logind::Refuses, false},
          std::pair{Logind::Absent, true}}) {
        SCOPED_TRACE(static_cast<int>(logind));
        valve::testing::PrivateRealtimeKit kit(policyAllows);
        ASSERT_TRUE(kit.busUp()) << kit.whyNot().toStdString();
        std::printf("RealtimeKit tested: %s\n", kit.serving()
                                                    ? "a real rtkit-daemon"
                                                    : qPrintable("the refusal path only: " + kit.whyNot()));
        LogindStandIn standIn;
        standIn.refuse = logind == Logind::Refuses;
        QDBusConnection server = QDBusConnection::connectToBus(kit.address(), "stand-in " + kit.address());
        if (logind != Logind::Absent) {
            ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.login1")));
            ASSERT_TRUE(server.registerObject(QStringLiteral("/org/freedesktop/login1"), &standIn,
                                              QDBusConnection::ExportAllSlots));
        }
        const QDBusConnection panel = QDBusConnection::connectToBus(kit.address(), "panel " + kit.address());
        sequencer::LogindSleepInhibitor inhibitor(panel);
        sequencer::RealtimeKitPriority raiser(panel);
        SequencerRig rig(sim::UnitTiming::instant(), &inhibitor, &raiser);
        const int niceBefore = niceOfThisThread();
        // A table refused before its run takes neither.
        ASSERT_EQ(rig.run({{"10", "2"}, {"5", "3"}}), RunEnd::Refused);
        ASSERT_TRUE(rig.startHeld({{"0", "2"}, {"0.3", "3"}}));
        const bool locked = logind == Logind::Grants;
        const bool raised = kit.serving() && policyAllows;
        ASSERT_TRUE(runUntil([&] {
            return (locked ? standIn.lockEnd >= 0 : rig.log.lines().contains(kCannotSleep)) &&
                   (raised ? niceOfThisThread() == sequencer::RealtimeKitPriority::kNiceLevel
                           : rig.log.lines().contains(kCannotRaise));
        }));
        EXPECT_EQ(standIn.held(), locked);
        rig.clock.release();
        ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));

        EXPECT_EQ(std::tuple(*rig.end, rig.moves()),
                  std::tuple(RunEnd::Finished, QList<QByteArray>{"P02\r", "P03\r"}));
        EXPECT_EQ(rig.log.lines().count(kCannotSleep), locked ? 0 : 1);
        EXPECT_EQ(rig.log.lines().count(kCannotRaise), raised ? 0 : 1);
        EXPECT_EQ(standIn.asked, logind == Logind::Absent ? QStringList{} : QStringList{"sleep/block"});
        EXPECT_TRUE(runUntil([&] { return !standIn.held(); })); // released
        // Back to normal; a grant whose answer was still on its way is given back when it comes.
        EXPECT_TRUE(runUntil([&] { return niceOfThisThread() == niceBefore; }));
    }
}

} // namespace

#include "test_run_support.moc"
