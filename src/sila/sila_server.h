#pragma once

#include "calls.h"
#include "discovery.h"
#include "identity.h"
#include "listen_options.h"
#include "methods.h"
#include "silaservice_service.h"
#include "timed_routine_service.h"
#include "valve_control_service.h"

#include <QObject>
#include <memory>

namespace grpc {
class Server;
} // namespace grpc

namespace valve::sila {

class CallQueue;

// Bounds on what a client can make the server hold.
inline constexpr int kMaxMessageBytes = 64 * 1024;        // a request, or a response
inline constexpr int kMaxStreamsPerConnection = 64;       // calls open at once on one connection
inline constexpr std::size_t kMaxServerMemory = 64 << 20; // gRPC's buffers, all clients together

// The folder of the server's certificate and kept name: valve-panel/sila
// under $XDG_CONFIG_HOME.
QString configDirectory();

// The SiLA 2 server: gRPC listening where the plan says, with the features'
// services. gRPC's threads only carry messages: each call is handed through
// the gate to this object's thread, the logic thread.
class SilaServer : public QObject {
    Q_OBJECT
public:
    // Serves the valve through `unit`: the command core, routine host and
    // session it shares with the window or valvectl. The server is known by
    // the serial number of the adapter the session has open, if it has one.
    SilaServer(ServerIdentity identity, UnitAccess unit, QObject* parent = nullptr);
    ~SilaServer() override;
    SilaServer(const SilaServer&) = delete;
    SilaServer& operator=(const SilaServer&) = delete;

    // Starts listening; false, with the reason in `error`, when it cannot.
    bool start(const ListenPlan& plan, QString* error = nullptr);
    // Ends every call and stops listening.
    void stop();

    [[nodiscard]] bool running() const { return server_ != nullptr; }
    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] QString endpoint() const { return plan_.endpoint(port_); }
    [[nodiscard]] const ListenPlan& plan() const { return plan_; }
    [[nodiscard]] QString certificatePem() const { return QString::fromLatin1(certificate_); }
    [[nodiscard]] std::size_t clients() const { return gate_.clients(); }
    [[nodiscard]] CallGate& gate() { return gate_; }
    [[nodiscard]] ServerIdentity& identity() { return identity_; }
    // One line for the log and the window: where it listens and who may connect.
    [[nodiscard]] QString stateLine() const;

signals:
    // Started, stopped, or a client came or went.
    void stateChanged();
    // A line for the log: where it listens, and how it is announced.
    void message(const QString& line);

private:
    ServerIdentity identity_;
    CallGate gate_{this};
    SiLAServiceService silaService_;
    ValveControlService valveControl_;
    TimedRoutineService timedRoutine_;
    Methods methods_;
    std::shared_ptr<CallQueue> queue_;
    std::unique_ptr<grpc::Server> server_;
    Discovery discovery_;
    ListenPlan plan_;
    QByteArray certificate_;
    int port_ = 0;
};

} // namespace valve::sila
