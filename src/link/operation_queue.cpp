#include "operation_queue.h"

#include "record/event_log.h"
#include "record/traffic_record.h"

#include <QTimer>

namespace valve::link {

QCoro::Task<OperationQueue::Turn> OperationQueue::acquire(QString label) {
    if (shut_down_) {
        co_return Turn{};
    }
    const std::uint64_t ticket = next_ticket_++;
    while (serving_ != ticket && !shut_down_) {
        co_await advanced_.wait();
    }
    if (shut_down_) {
        co_return Turn{};
    }
    const std::uint32_t number = traffic_ != nullptr ? traffic_->beginOperation(label) : 0;
    if (log_ != nullptr) {
        log_->setCurrentOperation(number);
    }
    co_return Turn{this, number};
}

void OperationQueue::finish() {
    ++serving_;
    if (traffic_ != nullptr) {
        traffic_->endOperation();
    }
    if (log_ != nullptr) {
        log_->setCurrentOperation(0);
    }
    if (shut_down_) {
        return;
    }
    // Wake the next operation from the event loop, not from inside the one that
    // just ended, so a long queue never nests one operation inside another.
    QTimer::singleShot(0, &context_, [this, serving = serving_] {
        if (serving == serving_) {
            advanced_.notify();
        }
    });
}

void OperationQueue::shut_down() {
    shut_down_ = true;
    advanced_.notify();
}

} // namespace valve::link
