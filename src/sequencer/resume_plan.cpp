#include "resume_plan.h"

namespace valve::sequencer {

ResumePlan planResume(const Journal& journal, const QDateTime& now, MissedSteps missed) {
    ResumePlan plan;
    int next = 0; // the first step not confirmed
    for (const StepRecord& step : journal.steps) {
        if (step.answered && step.reached) {
            next = step.step + 1;
        }
    }
    plan.done = journal.stepsDone();
    const double late = static_cast<double>(journal.header.start.msecsTo(now)) / 1000.0;
    for (int i = next; i < journal.header.steps.size(); ++i) {
        const PlannedStep& planned = journal.header.steps[i];
        const double seconds = planned.seconds - late;
        if (seconds < 0) {
            plan.missed << i;
            if (missed == MissedSteps::Skip) {
                continue;
            }
        }
        // Missed steps go at once; the rest keep their times, which never
        // come before a missed one's.
        plan.steps << ResumePlan::Step{i, std::max(seconds, 0.0), planned.position};
    }
    return plan;
}

} // namespace valve::sequencer
