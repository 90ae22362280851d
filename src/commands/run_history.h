#pragma once

#include "outcome.h"

namespace valve::sequencer {
class JournalFolder;
}

namespace valve::commands {

// "runs": every journal in `folder`, newest first: its start, routine, steps
// done out of planned, how it stands and its largest deviation. A file that
// cannot be read is listed by its name with what is wrong.
Outcome listRuns(const sequencer::JournalFolder& folder);

// "runs show ID": one run's journal, step by step.
Outcome showRun(const sequencer::JournalFolder& folder, const QString& id);

} // namespace valve::commands
