#include "traffic_record.h"

#include <algorithm>

namespace valve::record {

namespace {
constexpr std::int64_t kLongestSinceRequestUs = INT32_MAX;
constexpr std::size_t kRecentLabels = 64;
} // namespace

std::uint32_t TrafficRecord::beginOperation(const QString& label) {
    current_ = ++lastNumber_;
    requestUs_ = -1;
    operations_.push_back({current_, shared(label)});
    if (operations_.size() > kCapacity) {
        operations_.pop_front();
    }
    return current_;
}

void TrafficRecord::endOperation() {
    current_ = 0;
    requestUs_ = -1;
}

void TrafficRecord::add(TrafficKind kind, const char* bytes, std::size_t length, std::uint8_t code) {
    if (!enabled_) {
        return;
    }
    TrafficEntry entry;
    entry.atUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count();
    entry.operation = current_;
    entry.kind = kind;
    entry.code = code;
    switch (kind) {
    case TrafficKind::Sent:
    case TrafficKind::WriteFailed:
        requestUs_ = entry.atUs;
        break;
    case TrafficKind::Received:
    case TrafficKind::TimedOut:
    case TrafficKind::ReadFailed:
        if (requestUs_ >= 0) {
            entry.sinceRequestUs =
                static_cast<std::int32_t>(std::min(entry.atUs - requestUs_, kLongestSinceRequestUs));
        }
        break;
    case TrafficKind::Discarded:
    case TrafficKind::Purged:
        break;
    }
    // Runs longer than one entry holds go into several, all with the same time.
    std::size_t done = 0;
    do {
        const std::size_t part = std::min(length - done, TrafficEntry::kMaxBytes);
        entry.length = static_cast<std::uint8_t>(part);
        if (part > 0) {
            std::copy_n(bytes + done, part, entry.bytes.begin());
        }
        append(entry);
        done += part;
    } while (done < length);
    if (watcher_) {
        watcher_();
    }
}

void TrafficRecord::append(const TrafficEntry& entry) {
    if (ring_.empty()) {
        ring_.reserve(kCapacity); // once, and no larger: growing by doubling would leave a third unused
    }
    if (ring_.size() < kCapacity) {
        ring_.push_back(entry);
    } else {
        ring_[end_ % kCapacity] = entry;
    }
    ++end_;
    if (ring_.size() == kCapacity) {
        // Labels of operations whose traffic has all been dropped go too.
        const std::uint32_t oldest = at(firstSeq()).operation;
        while (oldest != 0 && !operations_.empty() && operations_.front().number < oldest) {
            operations_.pop_front();
        }
    }
}

QString TrafficRecord::shared(const QString& label) {
    const auto known = std::find(recentLabels_.rbegin(), recentLabels_.rend(), label);
    if (known != recentLabels_.rend()) {
        return *known;
    }
    recentLabels_.push_back(label);
    if (recentLabels_.size() > kRecentLabels) {
        recentLabels_.pop_front();
    }
    return label;
}

QString TrafficRecord::operationLabel(std::uint32_t number) const {
    if (number == 0) {
        return QStringLiteral("Link");
    }
    if (operations_.empty() || number < operations_.front().number || number > operations_.back().number) {
        return {};
    }
    return operations_[number - operations_.front().number].label;
}

} // namespace valve::record
