// A routine run by valvectl on its own simulated unit, killed hard at a given
// moment, then resumed from its journal.
#include "panel_rig.h"
#include "sequencer/journal_format.h"
#include "sequencer/run_journal.h"
#include "valvectl_process.h"

#include <QDateTime>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

using namespace valve;
using valve::testing::runUntil;
using valve::testing::Valvectl;

namespace {

struct KilledRun {
    KilledRun() {
        for (Valvectl* each : {&first, &second}) {
            each->setEnvironment(QStringLiteral("XDG_STATE_HOME"), state.path());
        }
    }
    sequencer::Journal journal(int newest = 0) const {
        QFile file(folder.pathOf(folder.ids().value(newest)));
        file.open(QIODevice::ReadOnly);
        return sequencer::readJournal(file.readAll()).journal;
    }

    QTemporaryDir state;
    sequencer::JournalFolder folder{state.path() + QStringLiteral("/valve-panel/runs")};
    Valvectl first;
    Valvectl second;
};

QList<int> positionsSent(const sequencer::Journal& journal) {
    QList<int> positions;
    for (const sequencer::StepRecord& step : journal.steps) {
        positions << step.position;
    }
    return positions;
}

using sequencer::Journal;

struct KillCase {
    const char* what;
    std::function<bool(const Journal&, QProcess&)> killWhen;
    const char* missed;
    int done;        // confirmed before the kill
    bool unanswered; // a move was on its way
    int heldUp;      // seconds the journal tells the run was held up by a sleep
    QList<int> resumed;
};

// Starts the run with `start`, kills it when the case says, and resumes it
// with valvectl; `dueMs`: when the second-last resumed step is due, from the
// first run's start, which the resumed run keeps on the wall clock.
void killThenResume(const KillCase& c, const std::function<void(KilledRun&)>& start, qint64 dueMs) {
    KilledRun rig;
    start(rig);
    ASSERT_TRUE(runUntil([&] {
        return !rig.folder.ids().isEmpty() && c.killWhen(rig.journal(), rig.first.process);
    })) << c.what;
    ::kill(static_cast<pid_t>(rig.first.process.processId()), SIGKILL);
    rig.first.finish();

    const Journal killed = rig.journal();
    EXPECT_FALSE(killed.end.has_value()) << c.what;
    EXPECT_EQ(killed.stepsDone(), c.done) << c.what;
    EXPECT_EQ(!killed.steps.last().answered, c.unanswered) << c.what;
    EXPECT_EQ(killed.holdUps.isEmpty() ? 0 : killed.holdUps.first().seconds, c.heldUp) << c.what;
    const QString id = rig.folder.ids().first();
    const auto listed = rig.second.run({"runs", "--json"}).json();
    EXPECT_EQ(listed.value("runs")[0]["state"].toString(), QStringLiteral("cut short")) << c.what;

    runUntil([] { return false; }, std::chrono::milliseconds(400)); // the next step's time passes
    const auto resumed = rig.second.run({"--sim", "run", "--resume", id, "--missed", c.missed});
    EXPECT_EQ(resumed.exitCode, 0) << c.what << resumed.err.toStdString();
    const Journal next = rig.journal();
    EXPECT_EQ(next.header.continues, id) << c.what;
    EXPECT_EQ(positionsSent(next), c.resumed) << c.what;
    EXPECT_EQ(next.end->how, QStringLiteral("completed")) << c.what;
    const qint64 late = killed.header.start.addMSecs(dueMs).msecsTo(next.steps[next.steps.size() - 2].sentAt);
    EXPECT_GE(late, 0) << c.what;
    EXPECT_LT(late, 100) << c.what;
    // Asked once more, the run is resumed already.
    EXPECT_EQ(rig.second.run({"--sim", "run", "--resume", id}).exitCode, 2) << c.what;
}

auto answered(int steps) {
    return
        [steps](const Journal& j, QProcess&) { return j.steps.size() == steps && j.steps.last().answered; };
}

TEST(RunResume, AfterAHardKillTheJournalTellsWhereTheRunStoodAndResumeKeepsTheOriginalSchedule) {
    const auto onItsWay = [](const Journal& j, QProcess&) {
        return j.steps.size() == 2 && !j.steps.last().answered;
    };
    // Steps at 0 s, 0.25 s, 4 s and 4.25 s, positions 2 to 5: the resuming process has time to start
    // before step 3 even on a loaded machine.
    const KillCase cases[] = {
        {"waiting for a step", answered(2), "skip", 2, false, 0, {4, 5}},
        {"a move sent, not yet confirmed, missed steps skipped", onItsWay, "skip", 1, true, 0, {4, 5}},
        {"a move sent, not yet confirmed, missed steps run", onItsWay, "run", 1, true, 0, {3, 4, 5}},
    };
    for (const KillCase& c : cases) {
        killThenResume(
            c,
            [](KilledRun& rig) {
                rig.first.start({"--sim", "run", rig.first.file("r.txt", "0,2\n0.25,3\n4,4\n4.25,5\n")});
            },
            4000);
    }
}

// The computer sleeps from 1 s to 3 s of the run: step 3, due at 1.2 s, goes
// when it wakes, held up 2 s; steps 4 and 5 stay due at 6 s and 6.25 s.
TEST(RunResume, AKillDuringOrAfterASleepOfTheComputerResumesOnTheScheduleTheSleepDidNotMove) {
    const auto asleep = [](const Journal&, QProcess& child) { return child.peek(64).contains("asleep"); };
    const KillCase cases[] = {
        {"asleep, the step due in the sleep skipped", asleep, "skip", 2, false, 0, {5, 6}},
        {"asleep, the step due in the sleep run", asleep, "run", 2, false, 0, {4, 5, 6}},
        {"awake again, the held-up step done", answered(3), "skip", 3, false, 2, {5, 6}},
    };
    for (const KillCase& c : cases) {
        killThenResume(
            c,
            [](KilledRun& rig) {
                rig.first.process.start(QStringLiteral(SLEEPY_RUN),
                                        {"1", "2", "0,2", "0.25,3", "1.2,4", "6,5", "6.25,6"});
            },
            6000);
    }
}

TEST(RunJournals, TwoPanelsInOneProcessKeepTheirOwnAndARunThroughAPanelIsJournaledOnce) {
    Valvectl valvectl;
    QTemporaryDir state;
    valvectl.setEnvironment(QStringLiteral("XDG_STATE_HOME"), state.path());
    // Both panels write in the one folder, as two panels of one user do.
    const QString runs = state.path() + QStringLiteral("/valve-panel/runs");
    sequencer::JournalFolder folderA(runs);
    sequencer::JournalFolder folderB(runs);
    const auto rig = [](const QByteArray& adapter, sequencer::JournalFolder& folder) {
        return std::make_unique<valve::testing::PanelRig>(
            QList<QByteArray>{adapter}, sim::UnitTiming::instant(), link::LinkTiming{}, nullptr,
            sequencer::RunSupport{.journals = &folder});
    };
    const auto a = rig("NR Valve A", folderA);
    const auto b = rig("NR Valve B", folderB);
    for (auto* each : {a.get(), b.get()}) {
        ASSERT_TRUE(each->startClean());
        ASSERT_TRUE(each->panel->acceptValvectl(valvectl.runtime.path()));
    }
    const QString routine = valvectl.file("r.txt", "0,2\n0.1,3\n");
    for (const char* adapter : {"NR Valve A", "NR Valve B"}) {
        const auto finished = valvectl.run({"--device", adapter, "run", routine});
        ASSERT_EQ(finished.exitCode, 0) << finished.err.toStdString();
    }
    const QStringList ids = folderA.ids();
    ASSERT_EQ(ids.size(), 2); // the panels' only: valvectl kept none of its own
    QStringList adapters;
    for (const QString& id : ids) {
        QFile file(folderA.pathOf(id));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const sequencer::Journal journal = sequencer::readJournal(file.readAll()).journal;
        adapters << journal.header.adapterDescription;
        EXPECT_EQ(journal.header.origin, QStringLiteral("through the panel"));
        EXPECT_EQ(journal.stepsDone(), 2);
        EXPECT_EQ(journal.end->how, QStringLiteral("completed"));
    }
    adapters.sort();
    EXPECT_EQ(adapters, QStringList({"NR Valve A", "NR Valve B"}));
}

} // namespace
