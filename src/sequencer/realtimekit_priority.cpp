#include "realtimekit_priority.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QPointer>
#include <algorithm>
#include <cerrno>
#include <qcoro/qcorodbuspendingcall.h>
#include <sys/resource.h>
#include <unistd.h>

namespace valve::sequencer {

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");

// A thread's nice level as the kernel has it; 0 where it cannot be read.
int niceOf(pid_t thread) {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    return errno == 0 ? nice : 0;
}

// Lowering one's own priority needs no privilege.
void putBack(pid_t thread, int nice) {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice);
}

// One raise: asked for when made, given back when destroyed.
class RealtimeKitHold final : public QObject, public PriorityHold {
public:
    RealtimeKitHold(const QDBusConnection& bus, std::function<void()> cannotRaise)
        : cannotRaise_(std::move(cannotRaise)), thread_(::gettid()), niceBefore_(niceOf(thread_)) {
        request(this, bus, thread_, niceBefore_);
    }
    ~RealtimeKitHold() override {
        if (raised_) {
            putBack(thread_, niceBefore_);
        }
    }
    RealtimeKitHold(const RealtimeKitHold&) = delete;
    RealtimeKitHold& operator=(const RealtimeKitHold&) = delete;

private:
    static QCoro::Task<> request(QPointer<RealtimeKitHold> self, QDBusConnection bus, pid_t thread,
                                 int niceBefore) {
        // The service's lowest nice level: asking for less would be refused.
        QDBusMessage get = QDBusMessage::createMethodCall(
            kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << kService << QStringLiteral("MinNiceLevel");
        const QDBusPendingCall limitCall = bus.asyncCall(get);
        // Awaited directly: a call that failed at once (no bus) is finished already.
        const QDBusMessage limit = co_await limitCall;
        if (!self) {
            co_return;
        }
        if (limit.type() != QDBusMessage::ReplyMessage || limit.arguments().isEmpty()) {
            self->reportCannotRaise(); // no RealtimeKit on the bus
            co_return;
        }
        const int lowest = limit.arguments().constFirst().value<QDBusVariant>().variant().toInt();
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                           QStringLiteral("MakeThreadHighPriority"));
        call << static_cast<quint64>(thread)
             << static_cast<qint32>(std::max(RealtimeKitPriority::kNiceLevel, lowest));
        const QDBusPendingCall raiseCall = bus.asyncCall(call);
        const QDBusMessage reply = co_await raiseCall;
        const bool raised = reply.type() == QDBusMessage::ReplyMessage;
        if (!self) { // the run ended before the answer came
            if (raised) {
                putBack(thread, niceBefore);
            }
            co_return;
        }
        if (!raised) {
            self->reportCannotRaise();
            co_return;
        }
        self->raised_ = true;
    }

    void reportCannotRaise() {
        if (auto report = std::exchange(cannotRaise_, nullptr)) {
            report();
        }
    }

    std::function<void()> cannotRaise_;
    pid_t thread_;
    int niceBefore_;
    bool raised_ = false;
};

} // namespace

RealtimeKitPriority::RealtimeKitPriority(QDBusConnection bus) : bus_(std::move(bus)) {}

std::unique_ptr<PriorityHold> RealtimeKitPriority::raise(std::function<void()> cannotRaise) {
    return std::make_unique<RealtimeKitHold>(bus_, std::move(cannotRaise));
}

} // namespace valve::sequencer
