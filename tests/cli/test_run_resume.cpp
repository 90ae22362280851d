// A routine run by valvectl on its own simulated unit, killed hard at a given
// moment, then resumed from its journal by valvectl or through a running panel.
#include "cli_processes.h"
#include "panel_rig.h"
#include "sequencer/journal_format.h"
#include "sequencer/run_journal.h"

#include <QDateTime>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <ranges>
#include <string_view>

using namespace valve;
using namespace std::chrono_literals;
using sequencer::Journal;
using valve::testing::runUntil;
using valve::testing::Valvectl;

namespace {

// Steps at 0 s, 0.25 s, 6 s and 6.25 s, positions 2 to 5: the resuming process has time to start
// before step 3 even on a loaded machine in a sanitizer build.
void startAwake(Valvectl& valvectl) {
    valvectl.start({"--sim", "run", valvectl.file("r.txt", "0,2\n0.25,3\n6,4\n6.25,5\n")});
}

// The computer sleeps from 1 s to 3 s of the run: step 3, due at 1.2 s, goes
// when it wakes, held up 2 s; steps 4 and 5 stay due at 8 s and 8.25 s.
void startSleepy(Valvectl& valvectl) {
    valvectl.start({"1", "2", "0,2", "0.25,3", "1.2,4", "8,5", "8.25,6"}, QStringLiteral(SLEEPY_RUN));
}

// The newest journal but the one `besides`: ids order runs started in the same second by process id.
Journal newestIn(const sequencer::JournalFolder& folder, const QString& besides = {}) {
    const QStringList ids = folder.ids();
    QFile file(folder.pathOf(ids.value(ids.value(0) == besides ? 1 : 0)));
    file.open(QIODevice::ReadOnly);
    return sequencer::readJournal(file.readAll()).journal;
}

auto answered(int steps) {
    return
        [steps](const Journal& j, QProcess&) { return j.steps.size() == steps && j.steps.last().answered; };
}

// Resumed through a running panel that holds the unit, the run is the panel's, journalled as the continuation
// of the one cut short as a run resumed by valvectl itself is, so neither is resumed twice.
TEST(RunResume, AfterAHardKillEvenInASleepTheJournalTellsWhereTheRunStoodAndResumeKeepsTheOriginalSchedule) {
    const auto onItsWay = [](const Journal& j, QProcess&) {
        return j.steps.size() == 2 && !j.steps.last().answered;
    };
    const auto asleep = [](const Journal&, QProcess& child) { return child.peek(64).contains("asleep"); };
    const struct {
        const char* what;
        void (*start)(Valvectl&);
        qint64 dueMs; // when the second-last resumed step is due, from the first run's start
        std::function<bool(const Journal&, QProcess&)> killWhen;
        const char* missed;
        int done;        // confirmed before the kill
        bool unanswered; // a move was on its way
        int heldUp;      // seconds the journal tells the run was held up by a sleep
        QList<int> resumed;
        const char* route = "--sim"; // of the resumed run
    } cases[] = {
        // clang-format off
        {"waiting for a step", startAwake, 6000, answered(2), "skip", 2, false, 0, {4, 5}},
        {"a move on its way, missed steps skipped", startAwake, 6000, onItsWay, "skip", 1, true, 0, {4, 5}},
        {"a move on its way, missed steps run", startAwake, 6000, onItsWay, "run", 1, true, 0, {3, 4, 5}},
        {"asleep, the step due in the sleep skipped", startSleepy, 8000, asleep, "skip", 2, false, 0, {5, 6}},
        {"asleep, the step due in the sleep run", startSleepy, 8000, asleep, "run", 2, false, 0, {4, 5, 6}},
        {"awake again, the held-up step done", startSleepy, 8000, answered(3), "skip", 3, false, 2, {5, 6}},
        {"through a running panel", startAwake, 6000, answered(2), "skip", 2, false, 0, {4, 5}, "--panel"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Valvectl valvectl;
        valvectl.setEnvironment(QStringLiteral("XDG_STATE_HOME"), valvectl.runtime.path());
        sequencer::JournalFolder folder(valvectl.runtime.filePath("valve-panel/runs"));
        const bool throughPanel = c.route == std::string_view("--panel");
        std::optional<valve::testing::PanelRig> panel;
        if (throughPanel) {
            panel.emplace(QList<QByteArray>{"NR Valve"}, sim::UnitTiming::instant(),
                          link::LinkTiming{150ms, 10ms, 1ms}, nullptr,
                          sequencer::RunSupport{.journals = &folder});
            ASSERT_TRUE(panel->startClean() && panel->panel->acceptValvectl(valvectl.runtime.path()));
        }
        c.start(valvectl);
        ASSERT_TRUE(runUntil(
            [&] { return !folder.ids().isEmpty() && c.killWhen(newestIn(folder), valvectl.process); }));
        valvectl.signal(SIGKILL);
        valvectl.finish();

        const Journal killed = newestIn(folder);
        EXPECT_EQ(std::tuple(killed.end.has_value(), killed.stepsDone(), !killed.steps.last().answered,
                             killed.holdUps.isEmpty() ? 0 : killed.holdUps.first().seconds),
                  std::tuple(false, c.done, c.unanswered, c.heldUp));
        const QString id = folder.ids().first();
        EXPECT_EQ(valvectl.run({"runs", "--json"}).json().value("runs")[0]["state"].toString(), "cut short");

        runUntil([] { return false; }, std::chrono::milliseconds(400)); // the next step's time passes
        const auto resumed = valvectl.run({c.route, "run", "--resume", id, "--missed", c.missed});
        EXPECT_EQ(resumed.exitCode, 0) << resumed.err.toStdString();
        EXPECT_EQ(resumed.err.contains("through the running panel"), throughPanel);
        const Journal next = newestIn(folder, id);
        const auto positions = next.steps | std::views::transform(&sequencer::StepRecord::position);
        EXPECT_EQ(std::tuple(next.header.continues, next.header.origin,
                             QList<int>(positions.begin(), positions.end()), next.end->how),
                  std::tuple(id, throughPanel ? sequencer::kThroughPanel : sequencer::kFromValvectl,
                             c.resumed, QStringLiteral("completed")));
        // How late the second-last resumed step went on the schedule of the run it resumes.
        const qint64 late =
            killed.header.start.addMSecs(c.dueMs).msecsTo(next.steps[next.steps.size() - 2].sentAt);
        EXPECT_TRUE(late >= 0 && late < 100) << late;
        // Asked once more, the run is resumed already.
        EXPECT_EQ(valvectl.run({c.route, "run", "--resume", id}).exitCode, 2);
    }
}

} // namespace
