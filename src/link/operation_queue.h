#pragma once

#include "wake_signal.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <qcoro/qcorotask.h>
#include <utility>

namespace valve::record {
class EventLog;
class TrafficRecord;
} // namespace valve::record

namespace valve::link {

// Runs whole operator operations on the link one at a time, in the order they
// were started. An operation awaits its turn, holds it while it talks to the
// unit, and hands it on when the turn object goes out of scope. Each turn
// opens a numbered operation in the traffic record, under the label of what
// started it (a button, or a command of another front end); the events log
// is told the number, so that the lines written during the turn carry it.
class OperationQueue {
public:
    class Turn {
    public:
        Turn() = default;
        Turn(Turn&& other) noexcept
            : queue_(std::exchange(other.queue_, nullptr)), number_(std::exchange(other.number_, 0)) {}
        Turn& operator=(Turn&& other) noexcept {
            if (this != &other) {
                release();
                queue_ = std::exchange(other.queue_, nullptr);
                number_ = std::exchange(other.number_, 0);
            }
            return *this;
        }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        ~Turn() { release(); }

        // False when the program is shutting down: the operation must end quietly.
        explicit operator bool() const { return queue_ != nullptr; }
        // The operation's number in the traffic record; 0 without one.
        [[nodiscard]] std::uint32_t number() const { return number_; }

    private:
        friend class OperationQueue;
        Turn(OperationQueue* queue, std::uint32_t number) : queue_(queue), number_(number) {}
        void release() {
            if (auto* queue = std::exchange(queue_, nullptr)) {
                queue->finish();
            }
        }
        OperationQueue* queue_ = nullptr;
        std::uint32_t number_ = 0;
    };

    explicit OperationQueue(record::TrafficRecord* traffic = nullptr, record::EventLog* log = nullptr)
        : traffic_(traffic), log_(log) {}
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    QCoro::Task<Turn> acquire(QString label);
    // Refuses every waiting and later operation.
    void shut_down();

    [[nodiscard]] bool busy() const { return serving_ != next_ticket_; }
    [[nodiscard]] bool is_shut_down() const { return shut_down_; }

private:
    void finish();

    record::TrafficRecord* traffic_;
    record::EventLog* log_;
    WakeSignal advanced_;
    QObject context_; // owns the posted hand-overs, so none outlives the queue
    std::uint64_t next_ticket_ = 0;
    std::uint64_t serving_ = 0;
    bool shut_down_ = false;
};

} // namespace valve::link
