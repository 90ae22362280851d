#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <coroutine>
#include <memory>
#include <vector>

namespace valve::link {

// Something coroutines can wait for with a time limit, without polling: a
// waiting coroutine resumes when notify() is called or when its own precise
// one-shot timer runs out, whichever comes first. Single-threaded.
class WakeSignal {
public:
    class Awaiter {
    public:
        Awaiter(WakeSignal& signal, std::chrono::milliseconds timeout) : signal_(signal), timeout_(timeout) {}
        // Moved only before it suspends, while nothing points at it yet.
        Awaiter(Awaiter&& other) noexcept : signal_(other.signal_), timeout_(other.timeout_) {}
        Awaiter(const Awaiter&) = delete;
        Awaiter& operator=(const Awaiter&) = delete;
        Awaiter& operator=(Awaiter&&) = delete;
        ~Awaiter() { signal_.forget(this); }

        bool await_ready() const noexcept { return timeout_.count() == 0; }
        void await_suspend(std::coroutine_handle<> handle) {
            handle_ = handle;
            signal_.waiters_.push_back(this);
            if (timeout_.count() > 0) {
                timer_ = std::make_unique<QTimer>();
                timer_->setTimerType(Qt::PreciseTimer);
                timer_->setSingleShot(true);
                QObject::connect(timer_.get(), &QTimer::timeout, [this] { resume(false); });
                timer_->start(timeout_);
            }
        }
        // True when woken by notify(), false when the time ran out.
        bool await_resume() const noexcept { return notified_; }

    private:
        friend class WakeSignal;
        void resume(bool notified) {
            if (timer_) {
                timer_->stop();
            }
            signal_.forget(this);
            notified_ = notified;
            if (auto handle = std::exchange(handle_, {})) {
                handle.resume();
            }
        }

        WakeSignal& signal_;
        std::chrono::milliseconds timeout_;
        std::unique_ptr<QTimer> timer_;
        std::coroutine_handle<> handle_;
        bool notified_ = false;
    };

    WakeSignal() = default;
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // A negative timeout waits without limit; zero does not wait at all.
    [[nodiscard]] Awaiter wait(std::chrono::milliseconds timeout = std::chrono::milliseconds{-1}) {
        return Awaiter{*this, timeout};
    }

    // Resumes every coroutine that is waiting now (not those that start waiting
    // while they run).
    void notify() {
        auto woken = std::exchange(waiters_, {});
        for (Awaiter* waiter : woken) {
            waiter->resume(true);
        }
    }

    [[nodiscard]] bool hasWaiters() const { return !waiters_.empty(); }

private:
    void forget(Awaiter* waiter) { std::erase(waiters_, waiter); }

    std::vector<Awaiter*> waiters_;
};

} // namespace valve::link
