#include "resume_offer.h"

#include "commands/run_history.h"
#include "panel_remote.h"
#include "protocol/message_boxes.h"
#include "record/event_log.h"
#include "sequencer/run_journal.h"

namespace valve::ui {

namespace {

using protocol::BoxAnswer;
using sequencer::MissedSteps;

QString shownTime(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

QString lastMove(const sequencer::Journal& journal) {
    if (journal.steps.isEmpty()) {
        return QStringLiteral("no move was sent");
    }
    const sequencer::StepRecord& last = journal.steps.last();
    const QString confirmed = !last.answered ? QStringLiteral("the unit had not confirmed it")
                              : last.reached ? QStringLiteral("the unit confirmed it")
                                             : QStringLiteral("the unit answered that it was not reached");
    return QStringLiteral("step %1 to position %2; %3").arg(last.step + 1).arg(last.position).arg(confirmed);
}

QString aboutRun(const commands::RunToResume& run) {
    const sequencer::Journal& j = run.journal;
    return QStringLiteral("Run %1 was cut short.\n\nRoutine: %2\nStarted: %3\nSteps done: %4 of %5\n"
                          "Cut short: %6\nLast move: %7")
        .arg(run.id, j.header.routine.isEmpty() ? QStringLiteral("(table)") : j.header.routine,
             shownTime(j.header.start), QString::number(j.stepsDone()),
             QString::number(j.header.steps.size()), shownTime(j.lastLine), lastMove(j));
}

// One line for each step whose time passed while the program was not running.
QStringList missedSteps(const commands::RunToResume& run, const QList<int>& missed) {
    QStringList lines;
    const sequencer::JournalHeader& header = run.journal.header;
    for (const int step : missed) {
        const sequencer::PlannedStep& planned = header.steps.at(step);
        const QDateTime due = header.start.addMSecs(static_cast<qint64>(planned.seconds * 1000.0));
        lines << QStringLiteral("Run %1 missed step %2 to position %3, due at %4")
                     .arg(run.id)
                     .arg(step + 1)
                     .arg(planned.position)
                     .arg(shownTime(due));
    }
    return lines;
}

// Once, when steps were missed: skip them (the default) or run them now.
QCoro::Task<MissedSteps> askMissed(const ResumeOfferParts& parts, const commands::RunToResume& run) {
    const sequencer::ResumePlan plan =
        sequencer::planResume(run.journal, QDateTime::currentDateTimeUtc(), MissedSteps::Skip);
    if (plan.missed.isEmpty()) {
        co_return MissedSteps::Skip;
    }
    QStringList steps;
    for (const int step : plan.missed) {
        steps << QString::number(step + 1);
    }
    const BoxAnswer answer = co_await parts.boxes.message_box(
        QStringLiteral("The time of steps %1 of run %2 has passed.\n\nSkip them, or run them now, in order?")
            .arg(steps.join(QStringLiteral(", ")), run.id),
        protocol::BoxButtons::SkipRunNow);
    co_return answer == BoxAnswer::RunNow ? MissedSteps::RunNow : MissedSteps::Skip;
}

// The unit's status is read before the run starts, and logged with what was
// missed after it: pressing "Run" starts the events log afresh.
QCoro::Task<> resume(const ResumeOfferParts& parts, const commands::RunToResume& run, MissedSteps missed) {
    const QString status = co_await commands::statusBeforeResuming(parts.remote.core(), run.id);
    const QDateTime planned = QDateTime::currentDateTimeUtc();
    const commands::ResumeCommand resumed = commands::resumeCommand(parts.journals, run.id, missed, planned);
    const sequencer::RunContext context{sequencer::kFromWindow, run.journal.header.routine, run.id, planned};
    if (resumed.parsed.command &&
        !parts.remote.startRoutine(resumed.parsed.command->steps,
                                   QStringLiteral("Run %1 resumes").arg(run.id), context)) {
        parts.log.show_msg(
            QStringLiteral("Run %1 cannot resume: the Timed Events table is in use").arg(run.id));
    }
    parts.log.show_msg(status);
    for (const QString& line : missedSteps(run, resumed.missed)) {
        parts.log.show_msg(line);
    }
    if (!resumed.note.isEmpty()) {
        parts.log.show_msg(resumed.note);
    }
    if (!resumed.parsed.command) {
        parts.log.show_msg(resumed.parsed.error);
    }
}

QCoro::Task<> ask(const ResumeOfferParts& parts, const commands::RunToResume& run) {
    for (;;) {
        const BoxAnswer answer =
            co_await parts.boxes.message_box(aboutRun(run), protocol::BoxButtons::ResumeShowDismiss);
        if (answer == BoxAnswer::Show) {
            for (const QString& line : commands::showRun(parts.journals, run.id).out) {
                parts.log.show_msg(line);
            }
            continue;
        }
        if (answer == BoxAnswer::Resume) {
            const MissedSteps missed = co_await askMissed(parts, run);
            co_await resume(parts, run, missed);
        } else if (answer == BoxAnswer::Dismiss) {
            parts.log.show_msg(parts.journals.abandon(run.id)
                                   ? QStringLiteral("Run %1 is abandoned").arg(run.id)
                                   : QStringLiteral("Run %1 cannot be marked abandoned").arg(run.id));
        }
        co_return; // closed: asked again at the next start
    }
}

} // namespace

std::optional<ResumeRuns> resumeRunsFrom(const QString& word) {
    static const std::pair<QString, ResumeRuns> kWords[] = {
        {QStringLiteral("ask"), ResumeRuns::Ask},
        {QStringLiteral("skip"), ResumeRuns::Skip},
        {QStringLiteral("run-missed"), ResumeRuns::RunMissed},
        {QStringLiteral("never"), ResumeRuns::Never}};
    for (const auto& [name, mode] : kWords) {
        if (word == name) {
            return mode;
        }
    }
    return std::nullopt;
}

QCoro::Task<> offerResume(ResumeOfferParts parts, ResumeRuns mode) {
    if (mode == ResumeRuns::Never) {
        parts.log.show_msg(
            QStringLiteral("Runs cut short are not offered for resuming (--resume-runs never)"));
        co_return;
    }
    const auto run = commands::runToResume(parts.journals, parts.adapterDescription, parts.adapterSerial);
    if (!run) {
        co_return;
    }
    parts.log.show_msg(QStringLiteral("Run %1 on this adapter was cut short at %2 with %3 of %4 steps done")
                           .arg(run->id, shownTime(run->journal.lastLine))
                           .arg(run->journal.stepsDone())
                           .arg(run->journal.header.steps.size()));
    if (mode == ResumeRuns::Ask) {
        co_await ask(parts, *run);
    } else {
        co_await resume(parts, *run, mode == ResumeRuns::Skip ? MissedSteps::Skip : MissedSteps::RunNow);
    }
}

} // namespace valve::ui
