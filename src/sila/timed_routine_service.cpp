#include "timed_routine_service.h"

#include "commands/command_core.h"
#include "errors.h"
#include "feature_definitions.h"
#include "protocol/unit_terms.h"
#include "sequencer/event_table.h"
#include "sequencer/routine_file.h"
#include "sequencer/sequencer.h"
#include "unit_errors.h"

#include <cmath>

namespace valve::sila {

namespace {

// A routine's steps, as a routine file holds them and the Feature
// Definition constrains them.
constexpr int kMaxSteps = sequencer::kEventRows;
constexpr double kMaxSeconds = sequencer::kMaxEventTime;
using protocol::kFirstPosition;
using protocol::kLastPosition;

// The name a routine sent here goes by in the log and in "stop"'s report.
const QString kRoutineName = QStringLiteral("RunRoutine");

QString seconds(double value) {
    QString text = QString::number(value, 'f', 3);
    while (text.endsWith(QLatin1Char('0'))) {
        text.chop(1);
    }
    if (text.endsWith(QLatin1Char('.'))) {
        text.chop(1);
    }
    return text;
}

// The steps as a routine file's text, or why they are refused.
struct Routine {
    QByteArray text;
    QString error;
};

Routine routineOf(const tr::RunRoutine_Parameters& request) {
    const int count = request.steps_size();
    if (count < 1 || count > kMaxSteps) {
        return {{},
                QStringLiteral("A routine has 1 to %1 steps; this one has %2.").arg(kMaxSteps).arg(count)};
    }
    std::vector<sequencer::RoutineStep> steps;
    for (int index = 0; index < count; ++index) {
        const auto& step = request.steps(index).step();
        const double at = step.seconds().value();
        const auto position = step.position().value();
        if (!std::isfinite(at) || at < 0.0 || at > kMaxSeconds) {
            return {
                {},
                QStringLiteral("Step %1: its time must be 0 to %2 seconds.").arg(index + 1).arg(kMaxSeconds)};
        }
        if (position < kFirstPosition || position > kLastPosition) {
            return {{},
                    QStringLiteral("Step %1: its position must be %2 to %3.")
                        .arg(index + 1)
                        .arg(kFirstPosition)
                        .arg(kLastPosition)};
        }
        sequencer::RoutineStep each;
        each.time = seconds(at);
        each.position = QString::number(position);
        steps.push_back(each);
    }
    const QByteArray text = sequencer::formatRoutine(steps);
    // The routine file's own checks (times rising, and the rest), as valvectl's run meets them.
    const auto parsed = commands::parseCommand({QStringLiteral("run"), kRoutineName}, text);
    if (!parsed.command) {
        return {{}, parsed.error};
    }
    return {text, {}};
}

enum class RunResult { Done, Stopped, Failed, Other };

RunResult runResult(const commands::Outcome& outcome) {
    const QString result = outcome.values.value(QStringLiteral("outcome")).toString();
    if (result == QLatin1String("done")) {
        return RunResult::Done;
    }
    if (result == QLatin1String("stopped")) {
        return RunResult::Stopped;
    }
    return result == QLatin1String("failed") ? RunResult::Failed : RunResult::Other;
}

int stepsMoved(const commands::Outcome& outcome, int steps) {
    return outcome.values.value(QStringLiteral("steps_moved")).toInt(steps);
}

// Made outside the coroutines, where GCC 12 trips over braced string lists.
commands::Request runRequest(const QByteArray& routine) {
    return ValveControlService::request({QStringLiteral("run"), kRoutineName}, routine);
}

commands::Request stopRequest() {
    return ValveControlService::request({QStringLiteral("stop")});
}

std::chrono::seconds lastStep(const tr::RunRoutine_Parameters& request) {
    double last = 0.0;
    for (const auto& step : request.steps()) {
        last = std::max(last, step.step().seconds().value());
    }
    return std::chrono::seconds(static_cast<std::int64_t>(std::ceil(last)) + 60);
}

} // namespace

TimedRoutineService::TimedRoutineService(CallGate& gate, UnitAccess unit, QObject* parent)
    : QObject(parent), gate_(gate), unit_(unit),
      running_(
          [](const bool& value) {
              tr::Subscribe_RoutineRunning_Responses message;
              message.mutable_routinerunning()->set_value(value);
              return message;
          },
          unit_.routines.routineState().phase == commands::RoutineState::Phase::Running) {
    connect(&unit_.routines, &commands::RoutineHost::stepReported, this, [this] { setRunning(true); });
    connect(&unit_.routines, &commands::RoutineHost::routineEnded, this, [this] { setRunning(false); });
}

TimedRoutineService::~TimedRoutineService() {
    *alive_ = false;
}

void TimedRoutineService::addTo(Methods& methods) {
    const char* service = tr::TimedRoutine::service_full_name();
    methods.add<tr::RunRoutine_Parameters>(
        service, "RunRoutine",
        [this](const CallPtr& call, const auto& request) { runRoutine(call, request); },
        parameterId(kTimedRoutineFeature, "RunRoutine", "Steps"));
    methods.add<ExecutionUuid>(service, "RunRoutine_Info",
                               [this](const CallPtr& call, const auto& request) { info(call, request); });
    methods.add<ExecutionUuid>(
        service, "RunRoutine_Intermediate",
        [this](const CallPtr& call, const auto& request) { intermediate(call, request); });
    methods.add<ExecutionUuid>(service, "RunRoutine_Result",
                               [this](const CallPtr& call, const auto& request) { result(call, request); });
    methods.add<tr::StopRoutine_Parameters>(service, "StopRoutine", [this](const CallPtr& call, const auto&) {
        answer<tr::StopRoutine_Responses>(gate_, call, [this](const auto& reply) { stop(reply); });
    });
    methods.add<tr::Subscribe_RoutineRunning_Parameters>(
        service, "Subscribe_RoutineRunning", [this](const CallPtr& call, const auto&) {
            subscribe<tr::Subscribe_RoutineRunning_Responses>(
                gate_, call, [this](const auto& stream) { running_.subscribe(stream); });
        });
}

void TimedRoutineService::runRoutine(const CallPtr& call, const tr::RunRoutine_Parameters& request) {
    const Routine routine = routineOf(request);
    if (!routine.error.isEmpty()) {
        call->end(validationError(parameterId(kTimedRoutineFeature, "RunRoutine", "Steps"), routine.error));
        return;
    }
    const auto expected = lastStep(request);
    const int steps = request.steps_size();
    answer<Confirmation>(gate_, call, [this, routine, expected, steps](const auto& reply) {
        const auto confirmed = executions_.confirm(expected, reply->response);
        if (const auto* refusal = std::get_if<grpc::Status>(&confirmed)) {
            reply->finish(*refusal);
            return;
        }
        reply->finish();
        carryOut(std::get<QString>(confirmed), routine.text, steps);
    });
}

commands::StepSink TimedRoutineService::stepSink(const QString& uuid,
                                                 const std::shared_ptr<double>& largest) {
    return [this, alive = alive_, uuid, largest](const sequencer::StepReport& report, int count) {
        if (*alive) {
            stepMoved(uuid, report, count, *largest);
        }
    };
}

QCoro::Task<> TimedRoutineService::carryOut(QString uuid, QByteArray routine, int steps) {
    const auto alive = alive_;
    const auto largest = std::make_shared<double>(0.0);
    // Named before the await: GCC 12 frees temporaries of a co_await's
    // expression too early.
    commands::Request request = runRequest(routine);
    commands::StepSink sink = stepSink(uuid, largest);
    const commands::Outcome outcome = co_await unit_.core.run(std::move(request), std::move(sink));
    if (!*alive) {
        co_return;
    }
    const RunResult result = runResult(outcome);
    if (outcome.exitCode != commands::kSucceeded && result != RunResult::Stopped) {
        const bool moving = result == RunResult::Failed;
        executions_.fail(uuid, unitError(kTimedRoutineFeature, outcome, moving));
        co_return;
    }
    tr::RunRoutine_Responses response;
    response.mutable_stepsdone()->set_value(stepsMoved(outcome, steps));
    response.mutable_largestdeviation()->set_value(*largest);
    response.mutable_journalid()->set_value(unit_.routines.routineState().journal.toStdString());
    executions_.succeed(uuid, response);
}

void TimedRoutineService::stepMoved(const QString& uuid, const sequencer::StepReport& report, int steps,
                                    double& largest) {
    if (report.phase != sequencer::StepReport::Phase::Moved) {
        return;
    }
    const double deviation = std::chrono::duration<double>(report.at - report.due).count();
    largest = std::max(largest, std::abs(deviation));
    tr::RunRoutine_IntermediateResponses step;
    step.mutable_stepindex()->set_value(report.row + 1);
    step.mutable_position()->set_value(report.position);
    step.mutable_deviation()->set_value(deviation);
    executions_.intermediate(uuid, step);
    executions_.progress(uuid, steps > 0 ? static_cast<double>(report.row + 1) / steps : 1.0);
}

void TimedRoutineService::info(const CallPtr& call, const ExecutionUuid& request) {
    const QString uuid = QString::fromStdString(request.value());
    subscribe<ExecutionInfo>(gate_, call, [this, uuid](const auto& stream) {
        if (!executions_.watchInfo(uuid, stream)) {
            stream->end(
                frameworkError(FrameworkErrorType::InvalidExecutionUuid,
                               QStringLiteral("No kept command execution has the UUID %1.").arg(uuid)));
        }
    });
}

void TimedRoutineService::intermediate(const CallPtr& call, const ExecutionUuid& request) {
    using Intermediate = tr::RunRoutine_IntermediateResponses;
    const QString uuid = QString::fromStdString(request.value());
    subscribe<Intermediate>(gate_, call, [this, uuid](const auto& stream) {
        const auto sink = [stream](const google::protobuf::Message& message) {
            stream->send(dynamic_cast<const Intermediate&>(message));
            return !stream->ended();
        };
        if (!executions_.watchIntermediate(uuid, sink, [stream] { stream->end(grpc::Status::OK); })) {
            stream->end(
                frameworkError(FrameworkErrorType::InvalidExecutionUuid,
                               QStringLiteral("No kept command execution has the UUID %1.").arg(uuid)));
        }
    });
}

void TimedRoutineService::result(const CallPtr& call, const ExecutionUuid& request) {
    const QString uuid = QString::fromStdString(request.value());
    answer<tr::RunRoutine_Responses>(gate_, call, [this, uuid](const auto& reply) {
        reply->finish(executions_.result(uuid, reply->response));
    });
}

// "Stop" as the operator presses it, for whoever started the run; answered
// once the run has ended. Nothing to stop is no error.
QCoro::Task<> TimedRoutineService::stop(std::shared_ptr<Reply<tr::StopRoutine_Responses>> reply) {
    if (unit_.routines.routineState().phase == commands::RoutineState::Phase::Idle) {
        reply->finish();
        co_return;
    }
    commands::Request request = stopRequest();
    co_await unit_.core.run(std::move(request));
    reply->finish();
}

void TimedRoutineService::setRunning(bool running) {
    running_.set(running);
}

} // namespace valve::sila
