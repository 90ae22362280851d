#pragma once

#include "record/operation_lines.h"
#include "sequencer/event_table.h"
#include "sequencer/routine_file.h"
#include "sequencer/sequencer.h"

#include <QDateTime>
#include <QObject>
#include <cstdint>
#include <vector>

namespace valve::commands {

// Where a routine table stands, and which run it last held.
struct RoutineState {
    enum class Phase {
        Idle,    // free for a run
        Running, // a run is under way
        Held,    // a run ended on a failed move, and the table waits for "Stop"
    };
    Phase phase = Phase::Idle;
    std::uint32_t run = 0; // the number of the last run, counting from 1; 0 before the first
    QDateTime pressed;     // when its "Run" was pressed
    QString journal;       // the id of its journal; empty when it keeps none
};

// Where the routines of a front end run: the panel's own Timed Events table,
// filled and run in view of the operator, or a table held in memory for
// valvectl's own adapter.
class RoutineHost : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Fills the table with `steps` and presses "Run"; false, with nothing
    // changed, while the table is in use (a run under way, or stopped on a
    // failed move and not reset yet). `firstLine`, unless empty, is the run's
    // first line in the events log: it says where the run came from.
    // `context` is what the run's journal says of it.
    virtual bool startRoutine(const std::vector<sequencer::RoutineStep>& steps, const QString& firstLine,
                              const sequencer::RunContext& context) = 0;
    // Presses "Stop" for `by`, whom the run's journal names.
    virtual void stopRoutine(const QString& by) = 0;
    // The events-log lines of the last run, its own only.
    [[nodiscard]] virtual QList<record::LogLine> routineLines() const = 0;
    // The texts of the boxes the last run would have shown, where no window
    // shows them.
    [[nodiscard]] virtual QStringList routineBoxTexts() const { return {}; }
    [[nodiscard]] virtual RoutineState routineState() const = 0;

signals:
    // Every run of the table reports here, whoever pressed "Run".
    void stepReported(const valve::sequencer::StepReport& report);
    void routineEnded(valve::sequencer::RunEnd end);
};

} // namespace valve::commands
