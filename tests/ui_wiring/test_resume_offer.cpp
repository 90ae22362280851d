// The panel's offer, at its start, to resume a run of its adapter that was cut short.
#include "panel_rig.h"
#include "sequencer/run_journal.h"
#include "sequencer/run_recorder.h"
#include "ui/panel_remote.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <ranges>

namespace valve::testing {
namespace {

using protocol::BoxAnswer;
using protocol::BoxButtons;
using namespace std::chrono_literals;

// A run of three steps started 10 s ago on the rig's adapter: the first move confirmed, the second
// sent when the program died. Written by the real writer, then named after a process that is gone.
// `torn`: a power cut left half a line at its end. Returns its id.
QString cutShortRun(sequencer::JournalFolder& folder, bool torn) {
    sequencer::JournalHeader header;
    header.steps = {{0, 3}, {5, 5}, {7200, 2}};
    header.routine = QStringLiteral("flush.txt");
    header.adapterDescription = QStringLiteral("NR Valve");
    header.start = QDateTime::currentDateTimeUtc().addSecs(-10);
    header.bootId = sequencer::currentBootId();
    header.origin = sequencer::kFromWindow;
    {
        sequencer::RunRecorder recorder(folder, header, 0s, {});
        recorder.sent(0, 3, 0s, 0s);
        recorder.answered(true, 3, 1s);
        recorder.sent(1, 5, 5s, 5s);
    }
    const QString id = folder.ids().first();
    const QString dead = id.section(u'-', 0, 1) + QStringLiteral("-999999999");
    EXPECT_TRUE(QFile::rename(folder.pathOf(id), folder.pathOf(dead)));
    if (torn) {
        QFile file(folder.pathOf(dead));
        EXPECT_TRUE(file.open(QIODevice::Append));
        file.write(R"({"kind":"answe)");
    }
    return dead;
}

sequencer::Journal journalOf(const sequencer::JournalFolder& folder, const QString& id) {
    QFile file(folder.pathOf(id));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return sequencer::readJournal(file.readAll()).journal;
}

TEST(ResumeOffer, EachAnswerAndEachModeDoesWhatItSays) {
    struct Case {
        const char* what;
        ui::ResumeRuns mode;
        std::deque<BoxAnswer> answers;
        std::vector<BoxButtons> boxes; // asked, in order
        QList<int> resumedPositions;   // the new run's steps; empty: no new run
        QString oldState;              // the old run's state afterwards
        QString logged;                // a line the events log holds
        bool torn = false;             // the old journal's last line was cut off
    };
    using A = BoxAnswer;
    constexpr auto kOffer = BoxButtons::ResumeShowDismiss;
    constexpr auto kMissed = BoxButtons::SkipRunNow;
    constexpr auto kAsk = ui::ResumeRuns::Ask;
    const Case cases[] = {
        {"resume, skip", kAsk, {A::Resume, A::Skip}, {kOffer, kMissed}, {2}, "resumed", "missed step 2"},
        {"resume, run now", kAsk, {A::Resume, A::RunNow}, {kOffer, kMissed}, {5, 2}, "resumed", "go at once"},
        {"show, dismiss", kAsk, {A::Show, A::Dismiss}, {kOffer, kOffer}, {}, "abandoned", "no answer before"},
        {"dismiss a torn journal", kAsk, {A::Dismiss}, {kOffer}, {}, "abandoned", "is abandoned", true},
        {"box closed: asked again", kAsk, {A::Cancel}, {kOffer}, {}, "cut short", "was cut short at"},
        {"--resume-runs skip", ui::ResumeRuns::Skip, {}, {}, {2}, "resumed", "they are skipped"},
        {"--resume-runs run-missed", ui::ResumeRuns::RunMissed, {}, {}, {5, 2}, "resumed", "they go at once"},
        {"--resume-runs never", ui::ResumeRuns::Never, {}, {}, {}, "cut short", "not offered for resuming"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        sequencer::JournalFolder folder(dir.path());
        const QString old = cutShortRun(folder, c.torn);
        PanelRig rig({"NR Valve"}, sim::UnitTiming::instant(), {150ms, 10ms, 1ms}, nullptr,
                     {.journals = &folder});
        ASSERT_TRUE(rig.startClean());
        rig.boxes.answers = c.answers;
        rig.boxes.buttons.clear();
        ASSERT_TRUE(await(rig.panel->offerResume(c.mode)));

        EXPECT_EQ(rig.boxes.buttons, c.boxes);
        for (const char* part :
             {"Steps done: 1 of 3", "step 2 to position 5; the unit had not confirmed it"}) {
            EXPECT_TRUE(c.boxes.empty() || rig.boxes.texts.first().contains(part)) << part;
        }
        EXPECT_FALSE(rig.log().filter(c.logged).isEmpty()) << rig.log().join(u'\n').toStdString();
        const QStringList ids = folder.ids();
        if (c.resumedPositions.isEmpty()) {
            EXPECT_EQ(ids, QStringList{old});
        } else {
            ASSERT_EQ(ids.size(), 2);
            EXPECT_FALSE(rig.log().filter(QStringLiteral("the valve is at position")).isEmpty());
            const sequencer::Journal resumed = journalOf(folder, ids.first());
            EXPECT_EQ(resumed.header.continues, old);
            EXPECT_EQ(resumed.header.routine, QStringLiteral("flush.txt"));
            const auto positions =
                resumed.header.steps | std::views::transform(&sequencer::PlannedStep::position);
            EXPECT_EQ(QList<int>(positions.begin(), positions.end()), c.resumedPositions);
            // The last step keeps its time on the original schedule: 2 h after the old start.
            const double lastDue = resumed.header.steps.last().seconds;
            EXPECT_NEAR(resumed.header.start.addMSecs(static_cast<qint64>(lastDue * 1000)).toSecsSinceEpoch(),
                        journalOf(folder, old).header.start.addSecs(7200).toSecsSinceEpoch(), 2);
            auto* remote = rig.panel->remote();
            remote->stopRoutine(QStringLiteral("the test"));
            runUntil([&] { return remote->routineState().phase == commands::RoutineState::Phase::Idle; });
        }
        const QString state = sequencer::runState(journalOf(folder, old), old);
        EXPECT_EQ(state == sequencer::kCutShort && ids.size() == 2 ? QStringLiteral("resumed") : state,
                  c.oldState);
        // What was answered once is not asked again.
        rig.boxes.buttons.clear();
        ASSERT_TRUE(await(rig.panel->offerResume(ui::ResumeRuns::Ask)));
        EXPECT_EQ(rig.boxes.buttons.size(), c.oldState == sequencer::kCutShort ? 1U : 0U);
    }
}

} // namespace
} // namespace valve::testing
