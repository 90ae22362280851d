#pragma once

#include "ValveControl.grpc.pb.h"
#include "commands/command_core.h"
#include "executions.h"
#include "record/event_log.h"

#include <QObject>
#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::protocol {
struct Session;
}

namespace valve::sila {

namespace vc = sila2::org::valvepanel::valves::valvecontrol::v1;

class CallGate;

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
class ValveControlService final : public QObject, public vc::ValveControl::CallbackService {
    Q_OBJECT
public:
    ValveControlService(CallGate& gate, UnitAccess unit, QObject* parent = nullptr);
    ~ValveControlService() override;

    // The origin of this server's requests in the events log.
    static QString origin() { return QStringLiteral("SiLA"); }
    // A request of this server to the command core.
    static commands::Request request(QStringList words, std::optional<QByteArray> routine = std::nullopt);

private:
    using Context = grpc::CallbackServerContext;
    using Confirmation = sila2::org::silastandard::CommandConfirmation;
    using ExecutionUuid = sila2::org::silastandard::CommandExecutionUUID;

    grpc::ServerUnaryReactor* MoveTo(Context* context, const vc::MoveTo_Parameters* request,
                                     Confirmation* response) override;
    grpc::ServerWriteReactor<ExecutionInfo>* MoveTo_Info(Context* context,
                                                         const ExecutionUuid* request) override;
    grpc::ServerUnaryReactor* MoveTo_Result(Context* context, const ExecutionUuid* request,
                                            vc::MoveTo_Responses* response) override;
    grpc::ServerUnaryReactor* Home(Context* context, const vc::Home_Parameters* request,
                                   Confirmation* response) override;
    grpc::ServerWriteReactor<ExecutionInfo>* Home_Info(Context* context,
                                                       const ExecutionUuid* request) override;
    grpc::ServerUnaryReactor* Home_Result(Context* context, const ExecutionUuid* request,
                                          vc::Home_Responses* response) override;
    grpc::ServerUnaryReactor* ReadStatus(Context* context, const vc::ReadStatus_Parameters* request,
                                         vc::ReadStatus_Responses* response) override;
    grpc::ServerWriteReactor<vc::Subscribe_Position_Responses>*
    Subscribe_Position(Context* context, const vc::Subscribe_Position_Parameters* request) override;
    grpc::ServerWriteReactor<vc::Subscribe_Connected_Responses>*
    Subscribe_Connected(Context* context, const vc::Subscribe_Connected_Parameters* request) override;

    // Starts `words` (a move or homing) as a run of an observable command.
    grpc::ServerUnaryReactor* start(Context* context, Confirmation* response, QStringList words);
    QCoro::Task<> carryOut(QString uuid, QStringList words);
    QCoro::Task<> readStatus(std::shared_ptr<Reply<vc::ReadStatus_Responses>> reply);
    grpc::ServerWriteReactor<ExecutionInfo>* info(Context* context, const ExecutionUuid* request);
    template <class Response>
    grpc::ServerUnaryReactor* result(Context* context, const ExecutionUuid* request, Response* response);

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
