#pragma once

// RealtimeKit's own daemon (rtkit-daemon) on a private system bus of this
// process, with a stand-in for the policy service it asks before each grant.
// Where the daemon cannot run (it needs root to change other threads' nice
// levels), `serving()` is false and the bus carries no RealtimeKit.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace valve::testing {

class PrivateRealtimeKit {
public:
    static constexpr const char* kDaemon = "/usr/libexec/rtkit-daemon";

    // `allow`: the policy stand-in's answer to every request.
    explicit PrivateRealtimeKit(bool allow) : policy_(allow) {
        if (!startBus()) {
            return;
        }
        server_ =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, "policy " + address_));
        server_->registerService(QStringLiteral("org.freedesktop.PolicyKit1"));
        server_->registerVirtualObject(QStringLiteral("/org/freedesktop/PolicyKit1/Authority"), &policy_);
        startDaemon();
    }
    ~PrivateRealtimeKit() {
        for (QProcess* process : {&daemon_, &bus_}) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    PrivateRealtimeKit(const PrivateRealtimeKit&) = delete;
    PrivateRealtimeKit& operator=(const PrivateRealtimeKit&) = delete;

    [[nodiscard]] bool busUp() const { return !address_.isEmpty(); }
    [[nodiscard]] bool serving() const { return serving_; }
    [[nodiscard]] const QString& address() const { return address_; }
    // Why the daemon is not serving, when it is not.
    [[nodiscard]] const QString& whyNot() const { return whyNot_; }

private:
    // org.freedesktop.PolicyKit1.Authority.CheckAuthorization: (is_authorized, is_challenge, details).
    class PolicyStandIn final : public QDBusVirtualObject {
    public:
        explicit PolicyStandIn(bool allow) : allow_(allow) {}
        QString introspect(const QString&) const override { return {}; }
        bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
            if (message.member() != QStringLiteral("CheckAuthorization")) {
                return false;
            }
            QDBusArgument result;
            result.beginStructure();
            result << allow_ << false << QMap<QString, QString>{};
            result.endStructure();
            connection.send(message.createReply(QVariant::fromValue(result)));
            return true;
        }

    private:
        bool allow_;
    };

    bool startBus() {
        if (!dir_.isValid()) {
            whyNot_ = QStringLiteral("no temporary directory");
            return false;
        }
        const QString config = dir_.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            return false;
        }
        file.write(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/>
<allow user="*"/></policy>
</busconfig>
)");
        file.close();
        bus_.setStandardErrorFile(QProcess::nullDevice());
        bus_.start(QStringLiteral("dbus-daemon"),
                   {"--config-file=" + config, "--nofork", "--print-address=1"});
        if (!bus_.waitForReadyRead(5000)) {
            whyNot_ = QStringLiteral("dbus-daemon did not start");
            return false;
        }
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        return true;
    }

    // The daemon as root without its watchdog thread; serving once its name is on the bus.
    void startDaemon() {
        if (!QFile::exists(QString::fromLatin1(kDaemon))) {
            whyNot_ = QStringLiteral("rtkit-daemon is not installed");
            return;
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
        daemon_.setProcessEnvironment(environment);
        // Never a file: the daemon forbids itself to write to files.
        daemon_.setStandardOutputFile(QProcess::nullDevice());
        daemon_.setStandardErrorFile(QProcess::nullDevice());
        daemon_.start(QString::fromLatin1(kDaemon), {"--no-canary", "--user-name=root"});
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 5000 && daemon_.state() != QProcess::NotRunning) {
            if (server_->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.RealtimeKit1"))) {
                serving_ = true;
                return;
            }
            QCoreApplication::processEvents();
            QThread::msleep(20);
        }
        whyNot_ = QStringLiteral("rtkit-daemon does not run here (it needs root)");
    }

    QTemporaryDir dir_;
    QProcess bus_;
    QProcess daemon_;
    PolicyStandIn policy_;
    std::unique_ptr<QDBusConnection> server_;
    QString address_;
    QString whyNot_;
    bool serving_ = false;
};

} // namespace valve::testing
