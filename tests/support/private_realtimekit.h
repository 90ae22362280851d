#pragma once

// RealtimeKit's own daemon on a private bus, with a stand-in for the
// policy service it asks before each grant. Where the daemon cannot run (it
// needs root), `serving()` is false and `whyNot()` says so.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

namespace valve::testing {

class PrivateRealtimeKit {
public:
    // `allow`: the policy's answer to every request.
    explicit PrivateRealtimeKit(bool allow) : policy_(allow) {
        bus_.setStandardErrorFile(QProcess::nullDevice());
        bus_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
        if (!bus_.waitForReadyRead(5000)) {
            whyNot_ = QStringLiteral("dbus-daemon did not start");
            return;
        }
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        QDBusConnection server = QDBusConnection::connectToBus(address_, "policy " + address_);
        server.registerService(QStringLiteral("org.freedesktop.PolicyKit1"));
        server.registerVirtualObject(QStringLiteral("/org/freedesktop/PolicyKit1/Authority"), &policy_);
        startDaemon(server);
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
    [[nodiscard]] bool serving() const { return whyNot_.isEmpty(); }
    [[nodiscard]] const QString& address() const { return address_; }
    [[nodiscard]] const QString& whyNot() const { return whyNot_; }

private:
    // CheckAuthorization answers (is_authorized, is_challenge, details).
    struct PolicyStandIn final : QDBusVirtualObject {
        explicit PolicyStandIn(bool allow) : allow(allow) {}
        QString introspect(const QString&) const override { return {}; }
        bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
            QDBusArgument result;
            result.beginStructure();
            result << allow << false << QMap<QString, QString>{};
            result.endStructure();
            return connection.send(message.createReply(QVariant::fromValue(result)));
        }
        bool allow;
    };

    // As root, without its watchdog; never writing to a file, which it forbids itself.
    void startDaemon(const QDBusConnection& server) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
        daemon_.setProcessEnvironment(environment);
        daemon_.setStandardOutputFile(QProcess::nullDevice());
        daemon_.setStandardErrorFile(QProcess::nullDevice());
        daemon_.start(QStringLiteral("/usr/libexec/rtkit-daemon"), {"--no-canary", "--user-name=root"});
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 5000 && daemon_.state() != QProcess::NotRunning) {
            if (server.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.RealtimeKit1"))) {
                return;
            }
            QCoreApplication::processEvents();
            QThread::msleep(20);
        }
        whyNot_ = QStringLiteral("rtkit-daemon does not run here (not installed, or not root)");
    }

    QProcess bus_;
    QProcess daemon_;
    PolicyStandIn policy_;
    QString address_;
    QString whyNot_;
};

} // namespace valve::testing
