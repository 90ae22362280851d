#pragma once

#include "journal_format.h"
#include "run_clock.h"
#include "run_journal.h"

#include <memory>
#include <optional>

namespace valve::sequencer {

// Where a run was started from, as its journal names it.
inline const QString kFromWindow = QStringLiteral("window");
inline const QString kFromValvectl = QStringLiteral("valvectl");
inline const QString kThroughPanel = QStringLiteral("through the panel");

// What a run's journal is told of the run besides its steps.
struct RunContext {
    QString origin;    // empty: the sequencer's own
    QString routine;   // the routine file's name, if the steps came from one
    QString continues; // the journal of the run this one resumes
    // Where set, the steps' times count from this moment rather than from the
    // run's start: a resumed run keeps the schedule it was planned on however
    // long connecting and reading the unit took before it started.
    QDateTime timesFrom;
};

// Keeps the journal of the run under way, in the run clock's terms: times
// count from the start of the run.
class RunRecorder {
public:
    RunRecorder(JournalFolder& folder, JournalHeader header, RunClock::Duration start,
                const JournalFolder::Say& say);

    // A step's move has been handed to the link.
    void sent(int step, int position, RunClock::Duration due, RunClock::Duration sentAt);
    // The unit's answer to that move.
    void answered(bool reached, std::optional<int> reported, RunClock::Duration at);
    void heldUp(int step, qint64 seconds);
    void ended(const QString& how, const QString& by = {}, const QString& line = {});
    // Brings the header to the disk, when it is not there yet: only where the
    // next step is not due at once.
    void sync();

    [[nodiscard]] bool writing() const { return journal_ != nullptr; }
    [[nodiscard]] QString id() const;

private:
    [[nodiscard]] double msFromStart(RunClock::Duration at) const;

    std::unique_ptr<RunJournal> journal_;
    RunClock::Duration start_;
    StepRecord step_; // the last step sent
};

} // namespace valve::sequencer
