#include "logind_sleep_inhibitor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QPointer>
#include <qcoro/qcorodbuspendingcall.h>

namespace valve::sequencer {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");

// One lock: asked for when made, given up when destroyed, by closing the
// descriptor the login manager handed out.
class LogindHold final : public QObject, public SleepHold {
public:
    LogindHold(const QDBusConnection& bus, std::function<void()> cannotKeepAwake)
        : cannotKeepAwake_(std::move(cannotKeepAwake)),
          watcher_(kService, bus, QDBusServiceWatcher::WatchForUnregistration) {
        // A login manager that goes away (a restart, say) takes its locks with it.
        connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                [this] { reportCannotKeepAwake(); });
        request(this, bus);
    }

private:
    static QCoro::Task<> request(QPointer<LogindHold> self, QDBusConnection bus) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kService, QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        const QString who = QCoreApplication::applicationName();
        call << QStringLiteral("sleep") << (who.isEmpty() ? QStringLiteral("valve-panel") : who)
             << QStringLiteral("A timed routine of valve moves is running") << QStringLiteral("block");
        const QDBusPendingCall pending = bus.asyncCall(call);
        // Awaited directly: a call that failed at once (no bus) is finished
        // already, and waitForFinished() would wait for it for ever.
        const QDBusMessage reply = co_await pending;
        if (!self) {
            co_return; // the run is over: the descriptor closes with the reply
        }
        QDBusUnixFileDescriptor lock;
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            lock = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
        }
        if (!lock.isValid()) { // refused, or no login manager on the bus
            self->reportCannotKeepAwake();
            co_return;
        }
        self->lock_ = lock;
    }

    void reportCannotKeepAwake() {
        if (auto report = std::exchange(cannotKeepAwake_, nullptr)) {
            report();
        }
    }

    std::function<void()> cannotKeepAwake_;
    QDBusServiceWatcher watcher_;
    QDBusUnixFileDescriptor lock_;
};

} // namespace

LogindSleepInhibitor::LogindSleepInhibitor(QDBusConnection bus) : bus_(std::move(bus)) {}

std::unique_ptr<SleepHold> LogindSleepInhibitor::hold(std::function<void()> cannotKeepAwake) {
    return std::make_unique<LogindHold>(bus_, std::move(cannotKeepAwake));
}

} // namespace valve::sequencer
