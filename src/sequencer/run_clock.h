#pragma once

#include <QSocketNotifier>
#include <chrono>
#include <memory>
#include <qcoro/qcorotask.h>

namespace valve::link {
class WakeSignal;
}

namespace valve::sequencer {

// The clock a run keeps its schedule on. It counts real elapsed time, the
// time the computer spends asleep included, so that a week-long run keeps its
// times across a suspend.
class RunClock {
public:
    using Duration = std::chrono::nanoseconds;

    virtual ~RunClock() = default;

    // Time since a fixed start, time asleep included.
    [[nodiscard]] virtual Duration now() const = 0;
    // How much of now() the computer has spent asleep.
    [[nodiscard]] virtual Duration asleep() const = 0;
    // Ends when now() has reached `due`, or earlier when `wake` is notified.
    // The caller checks the clock again: an early end is no fault.
    virtual QCoro::Task<> sleepUntil(Duration due, link::WakeSignal& wake) = 0;
};

// The computer's boot-time clock. A wait is a timer on that clock, which goes
// off on time after a resume, where a timer on the monotonic clock would end
// late by the time asleep; the thread sleeps until then.
class BootTimeClock final : public RunClock {
public:
    BootTimeClock();
    ~BootTimeClock() override;
    BootTimeClock(const BootTimeClock&) = delete;
    BootTimeClock& operator=(const BootTimeClock&) = delete;

    [[nodiscard]] Duration now() const override;
    [[nodiscard]] Duration asleep() const override;
    QCoro::Task<> sleepUntil(Duration due, link::WakeSignal& wake) override;

private:
    void arm(Duration due);

    // A timerfd; where none can be made, a millisecond timer on the monotonic
    // clock, which a sleep holds up.
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    link::WakeSignal* waiting_ = nullptr;
};

} // namespace valve::sequencer
