#pragma once

#include "TimedRoutine.grpc.pb.h"
#include "executions.h"
#include "valve_control_service.h"

#include <QObject>
#include <qcoro/qcorotask.h>

namespace valve::sequencer {
struct StepReport;
}

namespace valve::sila {

namespace tr = sila2::org::valvepanel::valves::timedroutine::v1;

// Timed routines: run in the same table and sequencer as every other run,
// stopped whoever started them, watched while they run.
class TimedRoutineService final : public QObject {
    Q_OBJECT
public:
    TimedRoutineService(CallGate& gate, UnitAccess unit, QObject* parent = nullptr);
    ~TimedRoutineService() override;

    // Serves this feature's methods.
    void addTo(Methods& methods);

private:
    using Confirmation = sila2::org::silastandard::CommandConfirmation;
    using ExecutionUuid = sila2::org::silastandard::CommandExecutionUUID;

    void runRoutine(const CallPtr& call, const tr::RunRoutine_Parameters& request);
    void info(const CallPtr& call, const ExecutionUuid& request);
    void intermediate(const CallPtr& call, const ExecutionUuid& request);
    void result(const CallPtr& call, const ExecutionUuid& request);
    QCoro::Task<> carryOut(QString uuid, QByteArray routine, int steps);
    commands::StepSink stepSink(const QString& uuid, const std::shared_ptr<double>& largest);
    QCoro::Task<> stop(std::shared_ptr<Reply<tr::StopRoutine_Responses>> reply);
    void stepMoved(const QString& uuid, const sequencer::StepReport& report, int steps, double& largest);
    void setRunning(bool running);

    CallGate& gate_;
    UnitAccess unit_;
    Executions executions_;
    Watched<tr::Subscribe_RoutineRunning_Responses, bool> running_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace valve::sila
