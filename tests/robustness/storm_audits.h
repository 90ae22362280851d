#pragma once

#include "sim/sim_time.h"
#include "sim/wire_record.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace valve::testing {

// Watches the serial line for requests that began while the unit still owed
// a reply. The host may do that only when it had given up on the reply: after
// a request that ran into the reply time limit (seen on the line as a pause
// of at least that limit before the next request), in the few requests that
// follow one (a late reply is then taken for the next one's), or right after
// a driver fault made an operation end early. Anything else
// means two operations talked to the unit at once.
class WireAudit {
public:
    WireAudit(sim::SimDuration replyTimeout, sim::SimDuration byteTime)
        : timeout_(replyTimeout), byte_(byteTime) {}

    // A driver fault ended an operation somewhere between `from` and `to`,
    // perhaps before the unit had answered: requests that began in that span,
    // and the first one after it, may overlap the answer.
    void excuse(sim::SimTime from, sim::SimTime to) { windows_.emplace_back(from, to); }

    // Looks at what crossed the line since the last call; the first overlap
    // the host had no right to, described.
    std::optional<QString> check(const sim::WireRecord& wire) {
        const auto& bytes = wire.bytes();
        for (; scannedBytes_ < bytes.size(); ++scannedBytes_) {
            const auto& byte = bytes[scannedBytes_];
            if (byte.direction != sim::WireRecord::Direction::HostToUnit) {
                continue;
            }
            if (!lineOpen_) {
                lines_.push_back({byte.at, byte.at, {}});
                lineOpen_ = true;
            }
            Line& line = lines_.back();
            line.last = byte.at;
            if (line.text.size() < 40) {
                line.text.append(byte.value);
            }
            if (byte.value == '\r') {
                lineOpen_ = false;
                ++linesByCode_[static_cast<unsigned char>(line.text.at(0))];
            }
        }
        const auto& overlaps = wire.overlaps();
        for (; scannedOverlaps_ < overlaps.size(); ++scannedOverlaps_) {
            const int index = overlaps[scannedOverlaps_].requestIndex;
            if (index < 0 || static_cast<std::size_t>(index) >= lines_.size()) {
                break; // its first byte is not in yet
            }
            if (!excused(static_cast<std::size_t>(index))) {
                return describe(static_cast<std::size_t>(index));
            }
            excusedOverlaps_.insert(static_cast<std::size_t>(index));
        }
        return std::nullopt;
    }

    [[nodiscard]] std::size_t requests() const { return lines_.size(); }
    [[nodiscard]] std::size_t excusedOverlaps() const { return excusedOverlaps_.size(); }
    // Complete requests that began with `code`.
    [[nodiscard]] int requests(char code) const { return linesByCode_[static_cast<unsigned char>(code)]; }

private:
    struct Line {
        sim::SimTime first;
        sim::SimTime last;
        QByteArray text;
    };
    static constexpr std::size_t kFollowers = 3;

    // The host gave up waiting after line `index - 1`: the next request came
    // at least a reply time limit after it (less the bytes still travelling).
    [[nodiscard]] bool afterTimeOut(std::size_t index) const {
        if (index == 0) {
            return false;
        }
        const Line& before = lines_[index - 1];
        const auto travel = byte_ * before.text.size() + std::chrono::milliseconds{1};
        return lines_[index].first - before.last >= timeout_ - travel;
    }
    [[nodiscard]] bool inWindow(std::size_t index) const {
        const sim::SimTime at = lines_[index].first;
        const auto before = index > 0 ? lines_[index - 1].first : sim::SimTime::min();
        return std::any_of(windows_.begin(), windows_.end(), [at, before](const auto& window) {
            return at >= window.first && (at <= window.second || before <= window.second);
        });
    }
    // A driver fault, like a time-out, can leave a reply in flight that the
    // next few requests run into.
    [[nodiscard]] bool excused(std::size_t index) const {
        for (std::size_t back = 0; back <= kFollowers && back <= index; ++back) {
            if (inWindow(index - back) || afterTimeOut(index - back) ||
                (back > 0 && excusedOverlaps_.count(index - back) > 0)) {
                return true;
            }
        }
        return false;
    }
    [[nodiscard]] QString describe(std::size_t index) const {
        QString text = QStringLiteral("request %1 %2 began while the unit still owed a reply")
                           .arg(index)
                           .arg(printable(lines_[index].text));
        if (index > 0) {
            const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(lines_[index].first -
                                                                                   lines_[index - 1].last);
            text += QStringLiteral(", %1 us after request %2 %3 (reply time limit %4 ms)")
                        .arg(gap.count())
                        .arg(index - 1)
                        .arg(printable(lines_[index - 1].text))
                        .arg(std::chrono::duration_cast<std::chrono::milliseconds>(timeout_).count());
        }
        text += QStringLiteral("; requests before it:");
        for (std::size_t i = index > 6 ? index - 6 : 0; i < index; ++i) {
            text += QStringLiteral(" ") + printable(lines_[i].text);
        }
        return text;
    }
    static QString printable(const QByteArray& bytes) {
        QString text = QStringLiteral("\"");
        for (const char c : bytes) {
            const auto u = static_cast<unsigned char>(c);
            text += (u >= 0x20 && u < 0x7F) ? QString(QChar(u))
                                            : QStringLiteral("\\x%1").arg(u, 2, 16, QChar('0'));
        }
        return text + QStringLiteral("\"");
    }

    sim::SimDuration timeout_;
    sim::SimDuration byte_;
    std::vector<Line> lines_;
    bool lineOpen_ = false;
    std::size_t scannedBytes_ = 0;
    std::size_t scannedOverlaps_ = 0;
    std::set<std::size_t> excusedOverlaps_;
    std::array<int, 256> linesByCode_{};
    std::vector<std::pair<sim::SimTime, sim::SimTime>> windows_;
};

// The unit's memory against what the operator asked for: a byte may differ
// from its value at the start only where a value was allowed for it (a byte
// the operator stored in the grid, a clock speed picked for "Set Clock", a
// cleared or newly recorded error-stack entry).
class MemoryAudit {
public:
    using Memory = std::array<std::uint8_t, 256>;

    explicit MemoryAudit(const Memory& start) : start_(start) {}

    void allow(std::uint8_t address, std::uint8_t value) { allowed_[address].insert(value); }

    std::optional<QString> check(const Memory& now) const {
        for (std::size_t address = 0; address < now.size(); ++address) {
            const std::uint8_t value = now[address];
            if (value != start_[address] && allowed_[address].count(value) == 0) {
                return QStringLiteral("the unit's memory at 0x%1 holds 0x%2 (0x%3 at the start), which the "
                                      "operator never asked for")
                    .arg(static_cast<int>(address), 2, 16, QChar('0'))
                    .arg(static_cast<int>(value), 2, 16, QChar('0'))
                    .arg(static_cast<int>(start_[address]), 2, 16, QChar('0'));
            }
        }
        return std::nullopt;
    }

private:
    Memory start_;
    std::array<std::set<std::uint8_t>, 256> allowed_{};
};

} // namespace valve::testing
