#pragma once

#include "event_table.h"
#include "run_recorder.h"

#include <QString>
#include <memory>
#include <qcoro/qcorotask.h>

namespace valve::record {
class OperationLines;
}

namespace valve::protocol {
struct Session;
}

namespace valve::sequencer {

class PriorityRaiser;
class RunClock;
class SleepInhibitor;

// What the owner of a sequencer lends it for its runs; it must outlive the
// sequencer.
struct RunSupport {
    // Held while a run's steps go on; none: runs do not keep the computer awake.
    SleepInhibitor* inhibitor = nullptr;
    // Raises the logic thread's priority while a run's steps go on; none: runs
    // keep the priority the program has.
    PriorityRaiser* priority = nullptr;
    // The schedule's clock; none: the computer's boot-time clock.
    RunClock* clock = nullptr;
    // Where each run's journal is written; none: runs keep no journal.
    JournalFolder* journals = nullptr;
    // Where this sequencer's runs are started from, unless a run is told otherwise.
    QString origin = kFromWindow;
};

// The line "Stop" writes to the events log.
inline const QString kUserStopped = QStringLiteral("User stopped execution");
// The line of a run stopped because the program is ended from outside, by
// `cause` ("SIGTERM", say).
inline QString stoppedByClosing(const QString& cause) {
    return QStringLiteral("Execution stopped by %1: the panel is closing").arg(cause);
}

// How a press of "Run" ended. A failed move counts before "Stop", and "Stop"
// pressed while the run was under way before how its steps ended.
enum class RunEnd {
    Finished,   // the table was run to its end
    Stopped,    // "Stop" was pressed
    MoveFailed, // a step's move did not reach its position
    Refused,    // the table, or a row the run reached, could not be run
    // The program closed during the run, or a run was under way already: the
    // press ended without a word.
    EndedQuietly,
};

// The timed event run: checks the table, then moves the valve to each row's
// position at the row's time, counted from the start of the run on a clock
// that goes on while the computer sleeps. Waits are coroutine awaits, so the
// window and every other command stay usable; each move takes the link's
// operation turn for itself.
class Sequencer {
public:
    Sequencer(protocol::Session& session, EventTableView& table, RunSupport support = {});
    ~Sequencer();
    Sequencer(const Sequencer&) = delete;
    Sequencer& operator=(const Sequencer&) = delete;

    // "Run": ends when the run has ended. A press while a run is still under
    // way does nothing.
    QCoro::Task<RunEnd> btnRun_Click();
    // What the journal of the next run is told; for that run only.
    void setNextRun(RunContext context);
    // True once setNextRun has told the next run something.
    [[nodiscard]] bool nextRunTold() const;
    // "Stop": works at any time, also with no run under way.
    void btnStop_Click();
    // The same, pressed by `by` ("valvectl", "SIGINT") rather than the window.
    void stopFor(const QString& by);
    // The next run's first line in the events log, right after "Run" has
    // emptied it: where the run came from, when not from the window.
    void announceNextRun(const QString& line);
    // The program is closing: a run ends quietly at its next step, and nothing
    // more is shown or sent.
    void shut_down();
    // The same when the program is ended from outside, by `cause`: a run whose
    // steps still go on leaves the line that says so first. The run's journal
    // ends here, as the program may end before the run resumes.
    void shut_down_for(const QString& cause);

    // True from "Run" until the run has really ended (its last move included).
    [[nodiscard]] bool runUnderWay() const;
    // The events-log lines of the last run, its own only (none before the
    // first run): kept until the next "Run".
    [[nodiscard]] const record::OperationLines* runLines() const;
    // The id of the last run's journal; empty when it kept none.
    [[nodiscard]] QString lastJournalId() const;

    struct Control;

private:
    std::shared_ptr<Control> control_;
};

} // namespace valve::sequencer
