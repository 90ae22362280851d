#include "run_clock.h"

#include "link/wake_signal.h"

#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace valve::sequencer {

namespace {

RunClock::Duration read(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return std::chrono::seconds{now.tv_sec} + std::chrono::nanoseconds{now.tv_nsec};
}

} // namespace

BootTimeClock::BootTimeClock() {
    fd_ = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        std::uint64_t expirations = 0;
        if (::read(fd_, &expirations, sizeof expirations) == static_cast<ssize_t>(sizeof expirations) &&
            waiting_ != nullptr) {
            waiting_->notify();
        }
    });
}

BootTimeClock::~BootTimeClock() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

RunClock::Duration BootTimeClock::now() const {
    return read(CLOCK_BOOTTIME);
}

// The boot-time clock runs on through a suspend; the monotonic clock stops.
RunClock::Duration BootTimeClock::asleep() const {
    return read(CLOCK_BOOTTIME) - read(CLOCK_MONOTONIC);
}

QCoro::Task<> BootTimeClock::sleepUntil(Duration due, link::WakeSignal& wake) {
    if (fd_ < 0) {
        using std::chrono::milliseconds;
        co_await wake.wait(std::max(milliseconds{1}, std::chrono::ceil<milliseconds>(due - now())));
        co_return;
    }
    arm(due);
    waiting_ = &wake;
    co_await wake.wait();
    waiting_ = nullptr;
    arm(Duration{0});
}

// An absolute expiry on the boot-time clock; zero disarms.
void BootTimeClock::arm(Duration due) {
    itimerspec setting{};
    setting.it_value.tv_sec = static_cast<time_t>(due.count() / 1'000'000'000);
    setting.it_value.tv_nsec = static_cast<long>(due.count() % 1'000'000'000);
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &setting, nullptr);
}

} // namespace valve::sequencer
