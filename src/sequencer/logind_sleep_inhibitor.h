#pragma once

#include "sleep_inhibitor.h"

#include <QDBusConnection>

namespace valve::sequencer {

// A sleep lock from the login manager (systemd-logind) on the system bus:
// org.freedesktop.login1.Manager.Inhibit("sleep", ..., "block") hands back a
// file descriptor, and the lock lasts as long as it stays open. The request
// is asynchronous; the descriptor is closed when the hold is dropped.
class LogindSleepInhibitor final : public SleepInhibitor {
public:
    explicit LogindSleepInhibitor(QDBusConnection bus = QDBusConnection::systemBus());

    [[nodiscard]] std::unique_ptr<SleepHold> hold(std::function<void()> cannotKeepAwake) override;

private:
    QDBusConnection bus_;
};

} // namespace valve::sequencer
