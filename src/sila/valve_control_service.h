#pragma once

#include "ValveControl.grpc.pb.h"
#include "commands/command_core.h"
#include "executions.h"
#include "methods.h"
#include "record/event_log.h"
#include "reply.h"

#include <QObject>
#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::protocol {
struct Session;
}

namespace valve::sila {

namespace vc = sila2::org::valvepanel::valves::valvecontrol::v1;

// Where a front end's commands come from, and what it shares with the panel.
struct UnitAccess {
    commands::CommandCore& core;
    commands::RoutineHost& routines;
    protocol::Session& session;
};

// Moving, homing and reading the valve, and its position and connection as
// they change. Every command goes through the command core, as the window's
// and valvectl's do; everything here runs on the logic thread except the
// handlers themselves, which only hand their calls over.
class ValveControlService final : public QObject {
    Q_OBJECT
public:
    ValveControlService(CallGate& gate, UnitAccess unit, QObject* parent = nullptr);
    ~ValveControlService() override;

    // The origin of this server's requests in the events log.
    static QString origin() { return QStringLiteral("SiLA"); }
    // A request of this server to the command core.
    static commands::Request request(QStringList words, std::optional<QByteArray> routine = std::nullopt);

    // Serves this feature's methods.
    void addTo(Methods& methods);

private:
    using Confirmation = sila2::org::silastandard::CommandConfirmation;
    using ExecutionUuid = sila2::org::silastandard::CommandExecutionUUID;

    void moveTo(const CallPtr& call, const vc::MoveTo_Parameters& request);
    // Starts `words` (a move or homing) as a run of an observable command.
    void start(const CallPtr& call, QStringList words);
    QCoro::Task<> carryOut(QString uuid, QStringList words);
    QCoro::Task<> readStatus(std::shared_ptr<Reply<vc::ReadStatus_Responses>> reply);
    void info(const CallPtr& call, const ExecutionUuid& request);
    template <class Response> void result(const CallPtr& call, const ExecutionUuid& request);
    template <class Message, class Value> void watch(const CallPtr& call, Watched<Message, Value>& property);

    void positionReported(int position);
    void lineLogged(const QString& text, record::LineSource source);
    void setConnected(bool connected);

    CallGate& gate_;
    UnitAccess unit_;
    Executions executions_;
    Watched<vc::Subscribe_Position_Responses, int> position_;
    Watched<vc::Subscribe_Connected_Responses, bool> connected_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace valve::sila
