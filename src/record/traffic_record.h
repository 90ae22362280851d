#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace valve::record {

// What one entry of the traffic record stands for.
enum class TrafficKind : std::uint8_t {
    Sent,        // bytes the link wrote
    Received,    // a reply byte the link read
    Discarded,   // stale input read away before a request
    Purged,      // the driver's queues were purged (code: the purge mask)
    TimedOut,    // a reply byte did not come in time
    WriteFailed, // bytes the driver refused to write
    ReadFailed,  // reading a reply byte failed (code: the read_char result)
};

// One entry: a handful of bytes (longer runs take several entries) with the
// time they crossed the link. Small and fixed in size, so that recording
// never allocates once the ring is full.
struct TrafficEntry {
    static constexpr std::size_t kMaxBytes = 13;

    std::int64_t atUs = 0;            // since the record began, on the monotonic clock
    std::uint32_t operation = 0;      // running number; 0 for the link's own traffic
    std::int32_t sinceRequestUs = -1; // reply entries: since the operation's last request
    TrafficKind kind = TrafficKind::Sent;
    std::uint8_t code = 0;
    std::uint8_t length = 0;
    std::array<char, kMaxBytes> bytes{};

    [[nodiscard]] QByteArray data() const { return {bytes.data(), length}; }
};

// Every byte the link writes and reads, bounded to the latest kCapacity
// entries. Entries carry sequence numbers that keep counting when the oldest
// are dropped, so a watcher can tell what is new and what has gone.
// One watcher at a time is told after each addition; without one, recording
// costs a clock read and a copy.
class TrafficRecord {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kCapacity = 100'000;

    explicit TrafficRecord(Clock::time_point start = Clock::now()) : start_(start) {}

    // Off: nothing is recorded (operations are still numbered).
    void setEnabled(bool enabled) { enabled_ = enabled; }
    [[nodiscard]] bool enabled() const { return enabled_; }

    // An operation takes its turn on the link; what follows belongs to it.
    // Returns its number.
    std::uint32_t beginOperation(const QString& label);
    // Its turn ends; traffic from now until the next is the link's own.
    void endOperation();

    void add(TrafficKind kind, const char* bytes = nullptr, std::size_t length = 0, std::uint8_t code = 0);

    // Entries have the sequence numbers [firstSeq(), endSeq()).
    [[nodiscard]] std::uint64_t firstSeq() const { return end_ - ring_.size(); }
    [[nodiscard]] std::uint64_t endSeq() const { return end_; }
    [[nodiscard]] const TrafficEntry& at(std::uint64_t seq) const { return ring_[seq % kCapacity]; }
    // The label the operation was started with; "Link" for number 0, empty
    // for one that is no longer kept.
    [[nodiscard]] QString operationLabel(std::uint32_t number) const;

    void setWatcher(std::function<void()> watcher) { watcher_ = std::move(watcher); }

private:
    struct Operation {
        std::uint32_t number;
        QString label;
    };

    void append(const TrafficEntry& entry);
    // `label`, or an equal one already kept: operations come with a handful
    // of labels, and a full record keeps one copy of each, not one per operation.
    QString shared(const QString& label);

    Clock::time_point start_;
    bool enabled_ = true;
    std::vector<TrafficEntry> ring_; // grows to kCapacity, then wraps
    std::uint64_t end_ = 0;
    std::deque<Operation> operations_; // consecutive numbers, oldest first
    std::deque<QString> recentLabels_; // the latest different ones, newest last
    std::uint32_t lastNumber_ = 0;
    std::uint32_t current_ = 0;
    std::int64_t requestUs_ = -1; // the current operation's last request; -1 before the first
    std::function<void()> watcher_;
};

} // namespace valve::record
