#pragma once

// A full "Read" of the memory editor's sixteen cells on a unit that answers at
// wire speed, against what the line itself needs: per cell four request bytes
// and three reply bytes at the unit's byte time, plus the unit's own time to
// answer.
#include "config/memory_editor.h"
#include "protocol/text_field.h"
#include "sim_session.h"

#include <optional>

namespace valve::bench {

class MemoryReadBench : public SimSession {
public:
    static constexpr int kReads = 31;
    // A read is disturbed when one cell of it was kept waiting for a processor
    // this long: another process had it. (Each wake-up waits a little on a
    // busy machine; that is not counted.)
    static constexpr std::chrono::milliseconds kHeldUp{1};
    static constexpr int kRequestBytes = 4; // "G", two hex digits, CR
    static constexpr int kReplyBytes = 3;

    // The line's share alone: nothing can be faster than this.
    [[nodiscard]] double lowerBoundMs() const {
        const int cells = config::MemoryEditor::kLastDataColumn - config::MemoryEditor::kFirstDataColumn + 1;
        const auto perCell = (kRequestBytes + kReplyBytes) * timing_.byteTime + timing_.processingTime;
        return std::chrono::duration<double, std::milli>(cells * perCell).count();
    }

    // Adds the median read time, the bound and their ratio, the same for the
    // reads no other process held up, and where the host's own time went;
    // false (with a note on stderr) when a read did not read every cell.
    bool report(Report& report) {
        std::vector<double> times;
        std::vector<double> undisturbed;
        std::vector<double> gaps;
        std::vector<double> edges;
        for (int i = 0; i < kReads; ++i) {
            driver.wire(0).clear();
            protocol::StoredText stat;
            // The wait for a processor so far, noted as each cell is taken up.
            std::vector<std::chrono::nanoseconds> queued{runQueueWait()};
            const auto connection = QObject::connect(&editor, &config::MemoryEditor::cellChanged,
                                                     [&queued] { queued.push_back(runQueueWait()); });
            const auto started = std::chrono::steady_clock::now();
            std::chrono::steady_clock::time_point ended;
            auto outcome = config::MemoryOutcome::EndedQuietly;
            runToEnd([&]() -> QCoro::Task<> {
                outcome = co_await editor.read(session, stat);
                ended = std::chrono::steady_clock::now();
            });
            if (outcome != config::MemoryOutcome::Read) {
                std::fprintf(stderr, "memory read ended with \"%s\"\n", qPrintable(stat.text()));
                return false;
            }
            const double took = std::chrono::duration<double, std::milli>(ended - started).count();
            times.push_back(took);
            QObject::disconnect(connection);
            queued.push_back(runQueueWait());
            if (longestStep(queued) < kHeldUp) {
                undisturbed.push_back(took);
            }
            hostShare(started, ended, gaps, edges);
        }
        const double bound = lowerBoundMs();
        const double all = median(times);
        const double clean = undisturbed.empty() ? std::nan("") : median(undisturbed);
        report.add("memory_read_ms", all, "ms, median of 31 full reads of 16 cells");
        report.add("memory_read_bound_ms", bound, "ms, 16 x (7 bytes on the line + unit's reply time)");
        report.add("memory_read_to_bound_ratio", all / bound, "read time / bound");
        report.add("memory_read_undisturbed_count", static_cast<double>(undisturbed.size()),
                   "reads with no cell kept from a processor 1 ms");
        report.add("memory_read_undisturbed_ms", clean, "ms, median of those");
        report.add("memory_read_undisturbed_to_bound_ratio", clean / bound, "read time / bound");
        report.add("memory_read_host_gap_median_ms", median(gaps),
                   "ms, a reply's last byte readable to the next request written");
        report.add("memory_read_start_and_end_median_ms", median(edges),
                   "ms, press to first request + last byte to the read's end");
        return true;
    }

private:
    static std::chrono::nanoseconds longestStep(const std::vector<std::chrono::nanoseconds>& samples) {
        std::chrono::nanoseconds longest{0};
        for (std::size_t i = 1; i < samples.size(); ++i) {
            longest = std::max(longest, samples[i] - samples[i - 1]);
        }
        return longest;
    }

    // Where the host's own time goes: between a reply's last byte becoming
    // readable and the next request being written (per cell), and before the
    // first request plus after the last reply (per read).
    void hostShare(std::chrono::steady_clock::time_point started, std::chrono::steady_clock::time_point ended,
                   std::vector<double>& gaps, std::vector<double>& edges) {
        using Direction = sim::WireRecord::Direction;
        const auto ms = [](sim::SimDuration d) {
            return std::chrono::duration<double, std::milli>(d).count();
        };
        std::optional<sim::SimTime> lastReply;
        std::optional<sim::SimTime> firstWrite;
        Direction previous = Direction::UnitToHost;
        for (const auto& byte : driver.wire(0).bytes()) {
            if (byte.direction == Direction::HostToUnit && previous == Direction::UnitToHost) {
                // A request's first byte reaches the unit one byte time after it was written.
                const auto written = byte.at - timing_.byteTime;
                if (lastReply) {
                    gaps.push_back(ms(written - *lastReply));
                } else {
                    firstWrite = written;
                }
            }
            if (byte.direction == Direction::UnitToHost) {
                lastReply = byte.at;
            }
            previous = byte.direction;
        }
        if (firstWrite && lastReply) {
            edges.push_back(ms(*firstWrite - started) + ms(ended - *lastReply));
        }
    }

    config::MemoryEditor editor;
};

} // namespace valve::bench
