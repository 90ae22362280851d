#pragma once

#include "journal_format.h"

#include <QDateTime>
#include <QList>

namespace valve::sequencer {

// What becomes of the steps whose time passed while the program was not
// running: skipped (the default), or run at once, in order.
enum class MissedSteps { Skip, RunNow };

// A run cut short, continued on its original schedule: each step stays due at
// the run's start on the wall clock plus its time, since the computer's own
// clock may have started again with a reboot.
struct ResumePlan {
    struct Step {
        int step = 0;         // in the original run, from 0
        double seconds = 0.0; // from the resume
        int position = 0;
    };
    QList<Step> steps; // what the resumed run does, in order
    QList<int> missed; // the steps whose time had passed, from 0
    int done = 0;      // steps whose move the unit confirmed before the cut
    [[nodiscard]] bool empty() const { return steps.isEmpty(); }
};

// The steps after the last one the unit confirmed (one sent and never
// answered is done again), with their times from `now`.
ResumePlan planResume(const Journal& journal, const QDateTime& now, MissedSteps missed);

} // namespace valve::sequencer
