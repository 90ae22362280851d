#pragma once

#include "sim_time.h"

#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>

namespace valve::sim {

// A one-shot wake-up on the calling thread's event loop with sub-millisecond
// precision: a Linux timerfd watched by a QSocketNotifier, or a precise QTimer
// (millisecond steps) where no timerfd can be made.
class PreciseWakeup {
public:
    explicit PreciseWakeup(std::function<void()> onWake);
    PreciseWakeup(const PreciseWakeup&) = delete;
    PreciseWakeup& operator=(const PreciseWakeup&) = delete;
    ~PreciseWakeup();

    // Fires once after `delay` (at once for a delay of zero or less); replaces
    // any earlier request.
    void armIn(SimDuration delay);
    void disarm();
    [[nodiscard]] bool armed() const { return armed_; }
    [[nodiscard]] bool usesTimerfd() const { return fd_ >= 0; }

private:
    void fire();

    std::function<void()> onWake_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer fallback_;
    bool armed_ = false;
};

} // namespace valve::sim
