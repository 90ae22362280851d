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
class RoutineRun::Table : public sequencer::StoredEventTable {
public:
    StepSink onStep;
    void reportStep(const sequencer::StepReport& report) override {
        if (onStep) {
            onStep(report);
        }
    }
};

struct RoutineRun::Parts {
    Parts(protocol::Session& s, QuietBoxes& b)
        : session(s), boxes(b), sequencer(s, table, {.inhibitor = &keepAwake, .priority = &priority}) {}
    protocol::Session& session;
    QuietBoxes& boxes;
    Table table;
    sequencer::LogindSleepInhibitor keepAwake; // a week-long run keeps the computer from sleeping
    sequencer::RealtimeKitPriority priority;   // and keeps its time on a busy one
    sequencer::Sequencer sequencer;
    int steps = 0;
};

RoutineRun::RoutineRun(protocol::Session& session, QuietBoxes& boxes, const Command& command)
    : parts_(std::make_unique<Parts>(session, boxes)) {
    for (std::size_t row = 0; row < command.steps.size(); ++row) {
        const sequencer::TableRow texts = sequencer::tableRow(command.steps[row]);
        parts_->table.setRow(static_cast<int>(row), texts.time, texts.position);
    }
    parts_->steps = static_cast<int>(command.steps.size());
}

RoutineRun::~RoutineRun() = default;

QCoro::Task<Outcome> RoutineRun::run(StepSink onStep) {
    Parts& p = *parts_;
    RunTally tally(p.steps);
    p.table.onStep = [&tally, onStep = std::move(onStep)](const sequencer::StepReport& report) {
        tally.add(report);
        onStep(report);
    };
    const auto boxesBefore = p.boxes.texts().size();
    const sequencer::RunEnd end = co_await p.sequencer.btnRun_Click();
    p.table.onStep = nullptr;
    const record::OperationLines* lines = p.sequencer.runLines();
    co_return tally.outcome(end, lines != nullptr ? lines->lines() : QList<record::LogLine>{},
                            p.boxes.texts().mid(boxesBefore));
}

void RoutineRun::stop() {
    parts_->sequencer.btnStop_Click();
}

} // namespace valve::commands
