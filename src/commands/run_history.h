#pragma once

#include "outcome.h"
#include "sequencer/journal_format.h"
#include "sequencer/resume_plan.h"

#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::sequencer {
class JournalFolder;
}

namespace valve::commands {

class CommandCore;

// "runs": every journal in `folder`, newest first: its start, routine, steps
// done out of planned, how it stands and its largest deviation. A file that
// cannot be read is listed by its name with what is wrong.
Outcome listRuns(const sequencer::JournalFolder& folder);

// "runs show ID": one run's journal, step by step.
Outcome showRun(const sequencer::JournalFolder& folder, const QString& id);

// One journal in `folder`, read up to its last whole line; a file that
// cannot be opened reads as damaged.
sequencer::JournalReading readRun(const sequencer::JournalFolder& folder, const QString& id);

// The steps of a run as CSV: one row a planned step, with its move as the
// journal has it (blank where it was not sent or not answered).
QByteArray runStepsCsv(const sequencer::Journal& journal);

// The newest run cut short, and not resumed since, that was run on the
// adapter with `description` or `serial`: its id and journal; none when
// there is none.
struct RunToResume {
    QString id;
    sequencer::Journal journal;
};
std::optional<RunToResume> runToResume(const sequencer::JournalFolder& folder, const QString& description,
                                       const QString& serial);

// "run --resume ID": the run of the steps left of a run cut short, on its
// original schedule from `now`, with what was missed in `note`; or why the
// run cannot be resumed.
struct ResumeCommand {
    ParsedCommand parsed;
    int exitCode = kSucceeded; // of the refusal
    QString note;
    QList<int> missed; // the steps whose time had passed, from 0
};
ResumeCommand resumeCommand(const sequencer::JournalFolder& folder, const QString& id,
                            sequencer::MissedSteps missed, const QDateTime& now);

// A resumed run starts from wherever the unit stands now: reads the unit's
// status through `core` and says it, as the line to log before run `id` resumes.
QCoro::Task<QString> statusBeforeResuming(CommandCore& core, QString id);

} // namespace valve::commands
