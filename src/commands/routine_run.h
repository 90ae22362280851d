#pragma once

#include "outcome.h"
#include "record/operation_lines.h"
#include "routine_host.h"
#include "sequencer/event_table.h"
#include "sequencer/sequencer.h"

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

// Routines on valvectl's own link: the steps go into an event table held in
// memory, and the panel's sequencer runs it.
class LocalRoutines : public RoutineHost {
public:
    LocalRoutines(protocol::Session& session, QuietBoxes& boxes);
    ~LocalRoutines() override;
    LocalRoutines(const LocalRoutines&) = delete;
    LocalRoutines& operator=(const LocalRoutines&) = delete;

    bool startRoutine(const std::vector<sequencer::RoutineStep>& steps, const QString& firstLine,
                      const sequencer::RunContext& context) override;
    void stopRoutine(const QString& by) override;
    [[nodiscard]] QList<record::LogLine> routineLines() const override;
    [[nodiscard]] QStringList routineBoxTexts() const override;
    [[nodiscard]] RoutineState routineState() const override;

private:
    class Table;
    struct Parts;
    QCoro::Task<> runTable();

    std::unique_ptr<Parts> parts_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace valve::commands
