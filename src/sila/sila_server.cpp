#include "sila_server.h"

#include "call_queue.h"
#include "certificate.h"
#include "link/usb_link.h"
#include "protocol/session.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <grpc/grpc.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/resource_quota.h>

namespace valve::sila {

namespace {

std::optional<QByteArray> readFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error != nullptr) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        }
        return std::nullopt;
    }
    return file.readAll();
}

struct Keys {
    QByteArray certificate;
    QByteArray key;
    QByteArray clientCa;
};

std::optional<Keys> keysFor(const ListenPlan& plan, const ServerIdentity& identity, QString* error) {
    Keys keys;
    if (plan.certFile.isEmpty()) {
        const auto own = ownCertificate(configDirectory(), identity.uuid(), plan.host, error);
        if (!own) {
            return std::nullopt;
        }
        keys.certificate = own->certificatePem;
        keys.key = own->keyPem;
    } else {
        const auto certificate = readFile(plan.certFile, error);
        const auto key = certificate ? readFile(plan.keyFile, error) : std::nullopt;
        if (!key) {
            return std::nullopt;
        }
        keys.certificate = *certificate;
        keys.key = *key;
    }
    if (!plan.clientCaFile.isEmpty()) {
        const auto ca = readFile(plan.clientCaFile, error);
        if (!ca) {
            return std::nullopt;
        }
        keys.clientCa = *ca;
    }
    return keys;
}

std::shared_ptr<grpc::ServerCredentials> tlsCredentials(const Keys& keys) {
    grpc::SslServerCredentialsOptions options(
        keys.clientCa.isEmpty() ? GRPC_SSL_DONT_REQUEST_CLIENT_CERTIFICATE
                                : GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY);
    options.pem_root_certs = keys.clientCa.toStdString();
    options.pem_key_cert_pairs.push_back({keys.key.toStdString(), keys.certificate.toStdString()});
    return grpc::SslServerCredentials(options);
}

} // namespace

QString configDirectory() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("valve-panel/sila"));
}

SilaServer::SilaServer(ServerIdentity identity, UnitAccess unit, QObject* parent)
    : QObject(parent),
      identity_(identity.withSerial(QString::fromLocal8Bit(unit.session.link.device_serial()))),
      silaService_(gate_, identity_, [this](const QString& name) { discovery_.rename(name); }),
      valveControl_(gate_, unit), timedRoutine_(gate_, unit) {
    silaService_.addTo(methods_);
    valveControl_.addTo(methods_);
    timedRoutine_.addTo(methods_);
    // A call coming or going is told from gRPC's threads; the window hears of
    // it on this one.
    connect(&discovery_, &Discovery::message, this, &SilaServer::message);
    gate_.setOnChange(
        [this] { QMetaObject::invokeMethod(this, &SilaServer::stateChanged, Qt::QueuedConnection); });
}

SilaServer::~SilaServer() {
    stop();
}

bool SilaServer::start(const ListenPlan& plan, QString* error) {
    plan_ = plan;
    grpc::ServerBuilder builder;
    std::shared_ptr<grpc::ServerCredentials> credentials = grpc::InsecureServerCredentials();
    if (plan.tls) {
        const auto keys = keysFor(plan, identity_, error);
        if (!keys) {
            return false;
        }
        certificate_ = keys->certificate;
        credentials = tlsCredentials(*keys);
    }
    int port = 0;
    builder.AddListeningPort(plan.endpoint(plan.port).toStdString(), credentials, &port);
    builder.SetMaxReceiveMessageSize(kMaxMessageBytes);
    builder.SetMaxSendMessageSize(kMaxMessageBytes);
    builder.AddChannelArgument(GRPC_ARG_MAX_CONCURRENT_STREAMS, kMaxStreamsPerConnection);
    builder.AddChannelArgument(GRPC_ARG_MAX_CONNECTION_IDLE_MS,
                               static_cast<int>(plan.timing.idleConnection.count()));
    // A port in use is refused, not shared with whoever holds it.
    builder.AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
    grpc::ResourceQuota quota("sila");
    quota.Resize(kMaxServerMemory);
    builder.SetResourceQuota(quota);
    queue_ = std::make_shared<CallQueue>(methods_);
    queue_->attach(builder);
    server_ = builder.BuildAndStart();
    if (!server_ || port == 0) {
        server_.reset();
        queue_.reset();
        if (error != nullptr) {
            *error = QStringLiteral("cannot listen on %1 (in use, or not an address of this computer)")
                         .arg(plan.endpoint(plan.port));
        }
        return false;
    }
    port_ = port;
    queue_->run();
    emit stateChanged();
    emit message(stateLine());
    discovery_.announce({identity_.uuid(), plan.host, plan.loopback, port_, ServerIdentity::version(),
                         identity_.name(), ServerIdentity::description(), certificate_});
    return true;
}

void SilaServer::stop() {
    if (!server_) {
        return;
    }
    discovery_.withdraw();
    gate_.close();
    server_->Shutdown(std::chrono::system_clock::now());
    queue_->shutdown();
    queue_.reset();
    server_.reset();
    emit stateChanged();
}

QString SilaServer::stateLine() const {
    if (!server_) {
        return QStringLiteral("SiLA 2 server: off");
    }
    return QStringLiteral("SiLA 2 server on %1 (%2), open to %3")
        .arg(endpoint(), plan_.tls ? QStringLiteral("TLS") : QStringLiteral("plain gRPC"), plan_.audience());
}

} // namespace valve::sila
