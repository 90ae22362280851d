#pragma once

#include "priority_raiser.h"

#include <QDBusConnection>

namespace valve::sequencer {

// A higher nice level from the desktop's RealtimeKit on the system bus
// (org.freedesktop.RealtimeKit1.MakeThreadHighPriority), the service audio
// servers use for the same purpose; the panel needs no privilege of its own.
// The request is asynchronous. Going back needs no service: a thread may always
// lower its own priority, so the hold puts the old nice level back itself.
class RealtimeKitPriority final : public PriorityRaiser {
public:
    // The nice level asked for, or the service's lowest allowed if that is higher.
    static constexpr int kNiceLevel = -11;

    explicit RealtimeKitPriority(QDBusConnection bus = QDBusConnection::systemBus());

    [[nodiscard]] std::unique_ptr<PriorityHold> raise(std::function<void()> cannotRaise) override;

private:
    QDBusConnection bus_;
};

} // namespace valve::sequencer
