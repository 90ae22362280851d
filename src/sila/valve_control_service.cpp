#include "valve_control_service.h"

#include "commands/command_core.h"
#include "errors.h"
#include "feature_definitions.h"
#include "protocol/position_control.h"
#include "protocol/session.h"
#include "protocol/unit_terms.h"
#include "record/event_log.h"
#include "unit_errors.h"

namespace valve::sila {

namespace {

using protocol::kFirstPosition;
using protocol::kLastPosition;

// How long a move or homing is expected to take, for its announced lifetime.
constexpr std::chrono::seconds kMoveTime{30};

// Helpers of the coroutines below, kept out of them: GCC 12 trips over
// string literals and braced lists inside a coroutine.
bool isMove(const QStringList& words) {
    return words.first() == QLatin1String("move");
}

const QStringList& statusReads() {
    static const QStringList reads{QStringLiteral("status"), QStringLiteral("error"),
                                   QStringLiteral("firmware")};
    return reads;
}

int reportedPosition(const commands::Outcome& outcome) {
    return outcome.values.value(QStringLiteral("position")).toInt();
}

// What one of the status reads brought, into the response.
void takeStatus(const QJsonObject& values, vc::ReadStatus_Responses& response) {
    if (values.contains(QStringLiteral("position"))) {
        response.mutable_position()->set_value(values.value(QStringLiteral("position")).toInt());
    }
    if (values.contains(QStringLiteral("error_code"))) {
        response.mutable_errorcode()->set_value(values.value(QStringLiteral("error_code")).toInt());
        response.mutable_errortext()->set_value(
            values.value(QStringLiteral("error_line")).toString().toStdString());
    }
    if (values.contains(QStringLiteral("firmware"))) {
        response.mutable_firmwarerevision()->set_value(
            values.value(QStringLiteral("firmware")).toString().toStdString());
    }
}

QString text(const std::string& bytes) {
    return QString::fromStdString(bytes);
}

} // namespace

ValveControlService::ValveControlService(CallGate& gate, UnitAccess unit, QObject* parent)
    : QObject(parent), gate_(gate), unit_(unit), position_([](const int& value) {
          vc::Subscribe_Position_Responses message;
          message.mutable_position()->set_value(value);
          return message;
      }),
      connected_(
          [](const bool& value) {
              vc::Subscribe_Connected_Responses message;
              message.mutable_connected()->set_value(value);
              return message;
          },
          adapterOpen(unit_.session)) {
    unit_.session.positions.setOnReported([this](int position) { positionReported(position); });
    // Every operation logs; whether the adapter is open is looked at then.
    connect(&unit_.session.log, &record::EventLog::lineAppended, this, &ValveControlService::lineLogged);
}

commands::Request ValveControlService::request(QStringList words, std::optional<QByteArray> routine) {
    commands::Request request;
    request.words = std::move(words);
    request.routine = std::move(routine);
    request.origin = origin();
    return request;
}

ValveControlService::~ValveControlService() {
    *alive_ = false;
    unit_.session.positions.setOnReported({});
}

void ValveControlService::addTo(Methods& methods) {
    const char* service = vc::ValveControl::service_full_name();
    methods.add<vc::MoveTo_Parameters>(
        service, "MoveTo", [this](const CallPtr& call, const auto& request) { moveTo(call, request); },
        parameterId(kValveControlFeature, "MoveTo", "Position"));
    methods.add<vc::Home_Parameters>(
        service, "Home", [this](const CallPtr& call, const auto&) { start(call, {QStringLiteral("home")}); });
    for (const char* info : {"MoveTo_Info", "Home_Info"}) {
        methods.add<ExecutionUuid>(
            service, info, [this](const CallPtr& call, const auto& request) { this->info(call, request); });
    }
    methods.add<ExecutionUuid>(service, "MoveTo_Result", [this](const CallPtr& call, const auto& request) {
        result<vc::MoveTo_Responses>(call, request);
    });
    methods.add<ExecutionUuid>(service, "Home_Result", [this](const CallPtr& call, const auto& request) {
        result<vc::Home_Responses>(call, request);
    });
    methods.add<vc::ReadStatus_Parameters>(service, "ReadStatus", [this](const CallPtr& call, const auto&) {
        answer<vc::ReadStatus_Responses>(gate_, call, [this](const auto& reply) { readStatus(reply); });
    });
    methods.add<vc::Subscribe_Position_Parameters>(
        service, "Subscribe_Position", [this](const CallPtr& call, const auto&) { watch(call, position_); });
    methods.add<vc::Subscribe_Connected_Parameters>(
        service, "Subscribe_Connected",
        [this](const CallPtr& call, const auto&) { watch(call, connected_); });
}

void ValveControlService::moveTo(const CallPtr& call, const vc::MoveTo_Parameters& request) {
    const auto position = request.position().value();
    if (!request.has_position() || position < kFirstPosition || position > kLastPosition) {
        call->end(validationError(parameterId(kValveControlFeature, "MoveTo", "Position"),
                                  QStringLiteral("The position must be %1 to %2; %3 is not.")
                                      .arg(kFirstPosition)
                                      .arg(kLastPosition)
                                      .arg(position)));
        return;
    }
    start(call, {QStringLiteral("move"), QString::number(position)});
}

void ValveControlService::start(const CallPtr& call, QStringList words) {
    answer<Confirmation>(gate_, call, [this, words](const auto& reply) {
        const auto confirmed = executions_.confirm(kMoveTime, reply->response);
        if (const auto* refusal = std::get_if<grpc::Status>(&confirmed)) {
            reply->finish(*refusal);
            return;
        }
        reply->finish();
        carryOut(std::get<QString>(confirmed), words);
    });
}

QCoro::Task<> ValveControlService::carryOut(QString uuid, QStringList words) {
    const auto alive = alive_;
    const bool move = isMove(words);
    if (unit_.routines.routineState().phase == commands::RoutineState::Phase::Running) {
        executions_.fail(uuid, busyError(kValveControlFeature));
        co_return;
    }
    commands::Request asked = request(words);
    const commands::Outcome outcome = co_await unit_.core.run(std::move(asked));
    if (!*alive) {
        co_return;
    }
    if (outcome.exitCode != commands::kSucceeded) {
        executions_.fail(uuid, unitError(kValveControlFeature, outcome, true));
        setConnected(false);
        co_return;
    }
    setConnected(true);
    const int reached = reportedPosition(outcome);
    if (move) {
        vc::MoveTo_Responses result;
        result.mutable_position()->set_value(reached);
        executions_.succeed(uuid, result);
    } else {
        vc::Home_Responses result;
        result.mutable_position()->set_value(reached);
        executions_.succeed(uuid, result);
    }
}

void ValveControlService::info(const CallPtr& call, const ExecutionUuid& request) {
    const QString uuid = text(request.value());
    subscribe<ExecutionInfo>(gate_, call, [this, uuid](const auto& stream) {
        if (!executions_.watchInfo(uuid, stream)) {
            stream->end(
                frameworkError(FrameworkErrorType::InvalidExecutionUuid,
                               QStringLiteral("No kept command execution has the UUID %1.").arg(uuid)));
        }
    });
}

template <class Response>
void ValveControlService::result(const CallPtr& call, const ExecutionUuid& request) {
    const QString uuid = text(request.value());
    answer<Response>(gate_, call, [this, uuid](const auto& reply) {
        reply->finish(executions_.result(uuid, reply->response));
    });
}

template <class Message, class Value>
void ValveControlService::watch(const CallPtr& call, Watched<Message, Value>& property) {
    subscribe<Message>(gate_, call, [&property](const auto& stream) { property.subscribe(stream); });
}

// The position, the last error and the firmware revision: three requests
// of the core, one after the other.
QCoro::Task<> ValveControlService::readStatus(std::shared_ptr<Reply<vc::ReadStatus_Responses>> reply) {
    const auto alive = alive_;
    for (const QString& word : statusReads()) {
        commands::Request asked = request(QStringList(word));
        const commands::Outcome outcome = co_await unit_.core.run(std::move(asked));
        if (!*alive) {
            co_return;
        }
        if (outcome.exitCode != commands::kSucceeded) {
            reply->finish(unitError(kValveControlFeature, outcome, false));
            setConnected(false);
            co_return;
        }
        takeStatus(outcome.values, reply->response);
    }
    setConnected(true);
    reply->finish();
}

void ValveControlService::positionReported(int position) {
    position_.set(position);
}

// The link's own lines tell when the adapter has gone; every other change
// shows in how a command ends.
void ValveControlService::lineLogged(const QString& text, record::LineSource source) {
    if (source.kind == record::LineKind::Link && adapterLost(text)) {
        setConnected(false);
    }
}

void ValveControlService::setConnected(bool connected) {
    connected_.set(connected);
}

} // namespace valve::sila
