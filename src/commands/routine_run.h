#pragma once

#include "command.h"
#include "outcome.h"
#include "record/operation_lines.h"
#include "sequencer/event_table.h"
#include "sequencer/sequencer.h"

#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>

namespace valve::protocol {
struct Session;
}

namespace valve::commands {

class QuietBoxes;

// Sums up a run from its step reports and its own lines in the log, whoever
// ran it.
class RunTally {
public:
    explicit RunTally(int steps) : steps_(steps) {}

    void add(const sequencer::StepReport& report);
    [[nodiscard]] int steps() const { return steps_; }
    [[nodiscard]] int moved() const { return moved_; }
    // Done when every step's move reached its position; failed at the first
    // that did not; stopped when "Stop" was pressed; ended early otherwise
    // (the panel's own checks refused the table).
    [[nodiscard]] Outcome outcome(sequencer::RunEnd end, const QList<record::LogLine>& lines,
                                  const QStringList& boxTexts) const;

private:
    int steps_;
    int moved_ = 0;
    bool failed_ = false;
};

// A routine run on valvectl's own link: the steps go into an event table held
// in memory, and the panel's sequencer runs it.
class RoutineRun {
public:
    using StepSink = std::function<void(const sequencer::StepReport&)>;

    RoutineRun(protocol::Session& session, QuietBoxes& boxes, const Command& command);
    ~RoutineRun();
    RoutineRun(const RoutineRun&) = delete;
    RoutineRun& operator=(const RoutineRun&) = delete;

    // Runs to the end, telling `onStep` of each step as it goes.
    QCoro::Task<Outcome> run(StepSink onStep);
    // "Stop": a waiting run ends at once, a moving one after its move.
    void stop();

private:
    class Table;
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

} // namespace valve::commands
