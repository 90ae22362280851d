#include "routine_run.h"

#include "protocol/session.h"
#include "sequencer/logind_sleep_inhibitor.h"
#include "sequencer/realtimekit_priority.h"
#include "sequencer/sequencer.h"
#include "sequencer/stored_event_table.h"
#include "windowless_session.h"

namespace valve::commands {

void RunTally::add(const sequencer::StepReport& report) {
    if (report.phase != sequencer::StepReport::Phase::Moved) {
        return;
    }
    ++moved_;
    failed_ = failed_ || !report.reached;
}

Outcome RunTally::outcome(sequencer::RunEnd end, const QList<record::LogLine>& lines,
                          const QStringList& boxTexts) const {
    Outcome outcome;
    QStringList log;
    for (const record::LogLine& line : lines) {
        log << line.text;
        if (line.source.kind == record::LineKind::Link) {
            outcome.err << line.text; // on standard error also when the run went well
        }
    }
    outcome.log = log;
    QString result = QStringLiteral("done");
    if (failed_ || moved_ < steps_) {
        outcome.exitCode = kUnitFailed;
        outcome.err = log + boxTexts;
        if (failed_) {
            result = QStringLiteral("failed");
        } else if (end == sequencer::RunEnd::Stopped) {
            result = QStringLiteral("stopped");
            outcome.err = QStringList{
                QStringLiteral("the run was stopped after %1 of %2 steps").arg(moved_).arg(steps_)};
        } else {
            result = QStringLiteral("ended early");
            outcome.err << QStringLiteral("the run ended after %1 of %2 steps").arg(moved_).arg(steps_);
        }
    }
    outcome.values = {{QStringLiteral("outcome"), result},
                      {QStringLiteral("steps"), steps_},
                      {QStringLiteral("steps_moved"), moved_}};
    return outcome;
}

// The event table of the run, telling of each step as it goes.
class LocalRoutines::Table : public sequencer::StoredEventTable {
public:
    explicit Table(LocalRoutines& host) : host_(host) {}
    void reportStep(const sequencer::StepReport& report) override { emit host_.stepReported(report); }

private:
    LocalRoutines& host_;
};

struct LocalRoutines::Parts {
    Parts(LocalRoutines& host, protocol::Session& s, QuietBoxes& b)
        : boxes(b), table(host), sequencer(s, table,
                                           {.inhibitor = &keepAwake,
                                            .priority = &priority,
                                            .journals = &journals,
                                            .origin = sequencer::kFromValvectl}) {}
    QuietBoxes& boxes;
    Table table;
    sequencer::LogindSleepInhibitor keepAwake; // a week-long run keeps the computer from sleeping
    sequencer::RealtimeKitPriority priority;   // and keeps its time on a busy one
    sequencer::JournalFolder journals;
    sequencer::Sequencer sequencer;
    RoutineState state;
    qsizetype boxesBefore = 0; // the box texts before the last run's
};

LocalRoutines::LocalRoutines(protocol::Session& session, QuietBoxes& boxes)
    : parts_(std::make_unique<Parts>(*this, session, boxes)) {}

LocalRoutines::~LocalRoutines() {
    *alive_ = false;
}

bool LocalRoutines::startRoutine(const std::vector<sequencer::RoutineStep>& steps, const QString& firstLine,
                                 const sequencer::RunContext& context) {
    Parts& p = *parts_;
    if (p.state.phase != RoutineState::Phase::Idle) {
        return false;
    }
    // Rows past the routine are blanked: a longer routine before it must
    // not leave steps behind.
    for (int row = 0; row < sequencer::kEventRows; ++row) {
        const auto index = static_cast<std::size_t>(row);
        const sequencer::TableRow texts =
            index < steps.size() ? sequencer::tableRow(steps[index]) : sequencer::TableRow{};
        p.table.setRow(row, texts.time, texts.position);
    }
    p.sequencer.announceNextRun(firstLine);
    p.sequencer.setNextRun(context);
    p.state = {RoutineState::Phase::Running, p.state.run + 1, QDateTime::currentDateTime(), {}};
    p.boxesBefore = p.boxes.texts().size();
    runTable();
    return true;
}

QCoro::Task<> LocalRoutines::runTable() {
    const std::shared_ptr<bool> alive = alive_;
    const sequencer::RunEnd end = co_await parts_->sequencer.btnRun_Click();
    if (*alive) {
        parts_->state.phase = RoutineState::Phase::Idle;
        emit routineEnded(end);
    }
}

void LocalRoutines::stopRoutine(const QString& by) {
    parts_->sequencer.stopFor(by);
}

QList<record::LogLine> LocalRoutines::routineLines() const {
    const record::OperationLines* lines = parts_->sequencer.runLines();
    return lines != nullptr ? lines->lines() : QList<record::LogLine>{};
}

QStringList LocalRoutines::routineBoxTexts() const {
    return parts_->boxes.texts().mid(parts_->boxesBefore);
}

RoutineState LocalRoutines::routineState() const {
    RoutineState state = parts_->state;
    state.journal = parts_->sequencer.lastJournalId();
    return state;
}

} // namespace valve::commands
