#include "precise_wakeup.h"

#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

namespace valve::sim {

PreciseWakeup::PreciseWakeup(std::function<void()> onWake) : onWake_(std::move(onWake)) {
    fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { fire(); });
    } else {
        fallback_.setSingleShot(true);
        fallback_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&fallback_, &QTimer::timeout, [this] { fire(); });
    }
}

PreciseWakeup::~PreciseWakeup() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void PreciseWakeup::armIn(SimDuration delay) {
    armed_ = true;
    if (fd_ < 0) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(delay, SimDuration{0}));
        fallback_.start(ms);
        return;
    }
    // An all-zero expiry would disarm the timerfd, so "now" is one nanosecond.
    const auto ns = std::max<std::int64_t>(delay.count(), 1);
    itimerspec setting{};
    setting.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    setting.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    ::timerfd_settime(fd_, 0, &setting, nullptr);
}

void PreciseWakeup::disarm() {
    armed_ = false;
    if (fd_ < 0) {
        fallback_.stop();
        return;
    }
    const itimerspec setting{};
    ::timerfd_settime(fd_, 0, &setting, nullptr);
}

void PreciseWakeup::fire() {
    if (fd_ >= 0) {
        std::uint64_t expirations = 0;
        if (::read(fd_, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations)) {
            return; // spurious: re-armed or disarmed meanwhile
        }
    }
    armed_ = false;
    onWake_();
}

} // namespace valve::sim
