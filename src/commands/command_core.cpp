#include "command_core.h"

#include "execute.h"
#include "protocol/session.h"
#include "record/event_log.h"
#include "routine_run.h"
#include "sequencer/run_journal.h"
#include "windowless_session.h"

#include <utility>

namespace valve::commands {

namespace {

// valvectl's own subcommands, which need no unit.
bool forTheUnit(Command::Kind kind) {
    return kind != Command::Kind::List && kind != Command::Kind::Runs && kind != Command::Kind::RunsShow;
}

const QString kClosed = QStringLiteral("the unit's link was closed before the command ended");

} // namespace

QString requestLine(const QString& origin, const QStringList& words) {
    QStringList shown;
    for (const QString& word : words) {
        shown << quoted(word);
    }
    return origin + QStringLiteral(": ") + shown.join(QLatin1Char(' '));
}

// A request that waits for a run to end: its outcome once known, and the
// coroutine to resume with it.
struct CommandCore::Waiter {
    std::optional<Outcome> outcome;
    std::coroutine_handle<> handle;
};

namespace {

// What a request awaits to have its run's outcome. The awaiter may be copied
// on its way, so it holds the waiter by pointer.
template <typename Waiter> struct WaitFor {
    std::shared_ptr<Waiter> waiter;

    [[nodiscard]] bool await_ready() const noexcept { return waiter->outcome.has_value(); }
    void await_suspend(std::coroutine_handle<> waiting) const noexcept { waiter->handle = waiting; }
    [[nodiscard]] Outcome await_resume() const { return *waiter->outcome; }
};

} // namespace

// A run started here: who may stop it, who hears of its steps, its tally,
// and the request that waits for its end.
struct CommandCore::Run {
    QPointer<const QObject> owner;
    StepSink progress;
    RunTally tally;
    std::shared_ptr<Waiter> end = std::make_shared<Waiter>();
};

struct CommandCore::Started {
    std::uint32_t number = 0;
    QString routine;
    QString origin;
};

CommandCore::CommandCore(protocol::Session& session, RoutineHost& routines, Announce announce)
    : session_(session), routines_(routines), announce_(announce) {
    connect(&routines_, &RoutineHost::stepReported, this, &CommandCore::stepReported);
    connect(&routines_, &RoutineHost::routineEnded, this, &CommandCore::routineEnded);
}

// Whoever still waits is answered now: no event is delivered to this object
// any more, and the waiting requests would hold their callers for good.
CommandCore::~CommandCore() {
    for (const auto& waiter : std::exchange(waiting_, {})) {
        if (!waiter->outcome) {
            waiter->outcome = Outcome::failed(kUnitFailed, kClosed);
        }
        if (const auto handle = std::exchange(waiter->handle, {})) {
            handle.resume();
        }
    }
}

// The waiter resumes from the event loop, not from within the run's end:
// the caller may end the run's host, and this object, when it resumes.
void CommandCore::settle(const std::shared_ptr<Waiter>& waiter, Outcome outcome) {
    waiter->outcome = std::move(outcome);
    QMetaObject::invokeMethod(
        this,
        [this, waiter] {
            std::erase(waiting_, waiter);
            if (const auto handle = std::exchange(waiter->handle, {})) {
                handle.resume();
            }
        },
        Qt::QueuedConnection);
}

QCoro::Task<Outcome> CommandCore::run(Request request, StepSink progress, const QObject* caller) {
    const ParsedCommand parsed = parseCommand(request.words, request.routine.value_or(QByteArray{}));
    if (!parsed.command || !forTheUnit(parsed.command->kind)) {
        Outcome refused =
            Outcome::failed(kBadUsage, parsed.command ? parsed.command->name() +
                                                            QStringLiteral(": not a command for the panel")
                                                      : parsed.error);
        refused.command = request.words.value(0);
        co_return refused;
    }
    Command command = *parsed.command;
    if (command.kind == Command::Kind::Run && sequencer::isJournalId(request.continues)) {
        command.continues = request.continues;
        command.timesFrom = request.timesFrom;
    }
    Outcome outcome = co_await run(std::move(command), std::move(request), std::move(progress), caller);
    co_return outcome;
}

QCoro::Task<Outcome> CommandCore::run(Command command, Request request, StepSink progress,
                                      const QObject* caller) {
    const QString name = command.name();
    Outcome outcome = co_await carryOut(std::move(command), std::move(request), std::move(progress), caller);
    outcome.command = name;
    co_return outcome;
}

QCoro::Task<Outcome> CommandCore::carryOut(Command command, Request request, StepSink progress,
                                           const QObject* caller) {
    if (command.kind == Command::Kind::Run) {
        Outcome outcome =
            co_await startRun(std::move(command), std::move(request), std::move(progress), caller);
        co_return outcome;
    }
    if (announce_ == Announce::InLog) {
        // The shared log's line for the request, before its operations: not one of them.
        session_.log.show_msg(requestLine(request.origin, request.words), {});
    }
    if (command.kind == Command::Kind::Stop) {
        Outcome outcome = co_await stopRun();
        co_return outcome;
    }
    QuietBoxes boxes(request.confirmed);
    protocol::Session session = windowlessSession(session_.link, session_.log, boxes, session_.exchange,
                                                  session_.positions, request.origin);
    Outcome outcome = co_await execute(session, boxes, std::move(command));
    co_return outcome;
}

QCoro::Task<Outcome> CommandCore::startRun(Command command, Request request, StepSink progress,
                                           const QObject* caller) {
    if (run_) {
        co_return Outcome::failed(kUnitFailed, QStringLiteral("the panel's Timed Events are in use"));
    }
    // Set before "Run" is pressed: the run reports from the press on.
    run_ = std::make_shared<Run>(
        Run{caller, std::move(progress), RunTally(static_cast<int>(command.steps.size()))});
    const std::shared_ptr<Waiter> end = run_->end;
    waiting_.push_back(end);
    const QString firstLine =
        announce_ == Announce::InLog ? requestLine(request.origin, request.words) : QString();
    const sequencer::RunContext context{announce_ == Announce::InLog ? sequencer::kThroughPanel
                                                                     : sequencer::kFromValvectl,
                                        command.routineName, command.continues, command.timesFrom};
    if (!routines_.startRoutine(command.steps, firstLine, context)) {
        run_.reset();
        std::erase(waiting_, end);
        co_return Outcome::failed(kUnitFailed, QStringLiteral("the panel's Timed Events are in use"));
    }
    started_ =
        std::make_unique<Started>(Started{routines_.routineState().run, command.routineName, request.origin});
    const WaitFor<Waiter> ended{end}; // named: GCC 12 destroys a braced temporary in co_await twice
    Outcome outcome = co_await ended;
    co_return outcome;
}

bool CommandCore::stopRunOf(const QObject* caller) {
    if (!run_ || caller == nullptr || run_->owner != caller) {
        return false;
    }
    routines_.stopRoutine(sequencer::kFromValvectl);
    return true;
}

// Presses "Stop" as the operator would, for any caller: a run under way is
// answered for once it has ended.
QCoro::Task<Outcome> CommandCore::stopRun() {
    using Phase = RoutineState::Phase;
    const RoutineState state = routines_.routineState();
    if (state.phase == Phase::Running) {
        const auto waiter = std::make_shared<Waiter>();
        stoppers_.push_back(waiter); // before the press: the run may end within it
        waiting_.push_back(waiter);
        routines_.stopRoutine(sequencer::kFromValvectl);
        const WaitFor<Waiter> ended{waiter};
        Outcome outcome = co_await ended;
        co_return outcome;
    }
    if (state.phase == Phase::Held) {
        routines_.stopRoutine(sequencer::kFromValvectl);
    }
    co_return state.phase == Phase::Idle
        ? Outcome::failed(kUnitFailed, QStringLiteral("no run is under way in the panel"))
        : stopped(state, nullptr);
}

// Which run "stop" stopped: its number, who started it and when, and how far it came.
Outcome CommandCore::stopped(const RoutineState& state, const RunTally* tally) const {
    const bool byRequest = started_ && state.run == started_->number;
    const QString pressed = state.pressed.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QJsonObject run{{QStringLiteral("run"), static_cast<qint64>(state.run)},
                    {QStringLiteral("started_by"), byRequest ? started_->origin : QStringLiteral("window")},
                    {QStringLiteral("started_at"), state.pressed.toString(Qt::ISODate)}};
    QString text = byRequest ? QStringLiteral("Stopped run %1: %2, started by %3 at %4")
                                   .arg(state.run)
                                   .arg(started_->routine, started_->origin, pressed)
                             : QStringLiteral("Stopped run %1, started in the panel's window at %2")
                                   .arg(state.run)
                                   .arg(pressed);
    if (byRequest) {
        run.insert(QStringLiteral("routine"), started_->routine);
    }
    if (tally != nullptr) {
        run.insert(QStringLiteral("steps"), tally->steps());
        run.insert(QStringLiteral("steps_moved"), tally->moved());
        text += QStringLiteral(", after %1 of %2 steps").arg(tally->moved()).arg(tally->steps());
    }
    if (state.phase == RoutineState::Phase::Held) {
        text += QStringLiteral("; it had ended on a failed move, and its table is free again");
    }
    Outcome outcome;
    outcome.values.insert(QStringLiteral("stopped"), run);
    outcome.out << text;
    return outcome;
}

void CommandCore::stepReported(const sequencer::StepReport& report) {
    if (!run_) {
        return; // the operator's own run
    }
    run_->tally.add(report);
    if (run_->progress) {
        run_->progress(report, run_->tally.steps());
    }
}

void CommandCore::routineEnded(sequencer::RunEnd end) {
    const RoutineState state = routines_.routineState();
    const RunTally* tally = run_ ? &run_->tally : nullptr;
    for (const auto& stopper : std::exchange(stoppers_, {})) {
        settle(stopper, stopped(state, tally));
    }
    if (const auto run = std::exchange(run_, {})) {
        settle(run->end, run->tally.outcome(end, routines_.routineLines(), routines_.routineBoxTexts()));
    }
}

} // namespace valve::commands
