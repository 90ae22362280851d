#pragma once

#include "link/operation_lines.h"
#include "sequencer/event_table.h"
#include "sequencer/routine_file.h"

#include <QObject>
#include <vector>

namespace valve::remote {

// What the panel lends its socket for a routine: its own Timed Events table,
// filled and run in view of the operator.
class RoutineHost : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Fills the table with `steps` and presses "Run"; false, with nothing
    // changed, while the table is in use (a run under way, or stopped on a
    // failed move and not reset yet).
    virtual bool startRoutine(const std::vector<sequencer::RoutineStep>& steps) = 0;
    // Presses "Stop".
    virtual void stopRoutine() = 0;
    // The events-log lines of the last run, its own only.
    [[nodiscard]] virtual QList<link::LogLine> routineLines() const = 0;

signals:
    // Every run of the table reports here, whoever pressed "Run".
    void stepReported(const valve::sequencer::StepReport& report);
    void routineEnded();
};

} // namespace valve::remote
