#pragma once

// What the traffic record costs while nobody watches it: the reply pick-up
// latency of one read and a full memory-editor "Read" of 16 cells, each
// measured with the record off and on, the two alternating so that both meet
// the same machine.
#include "config/memory_editor.h"
#include "protocol/text_field.h"
#include "sim_session.h"

#include <array>

namespace valve::bench {

class TrafficCostBench : public SimSession {
public:
    static constexpr int kPickUps = 200;
    static constexpr int kReads = 31;

    void report(Report& report) {
        std::array<std::vector<double>, 2> pickUp; // [0] off, [1] on
        std::array<std::vector<double>, 2> readRatio;
        for (int i = 0; i < kPickUps; ++i) {
            for (const bool on : {false, true}) {
                link.traffic().setEnabled(on);
                pickUp[on].push_back(pickUpMs());
            }
        }
        for (int i = 0; i < kReads; ++i) {
            for (const bool on : {false, true}) {
                link.traffic().setEnabled(on);
                readRatio[on].push_back(readMs() / readBoundMs());
            }
        }
        link.traffic().setEnabled(true);
        report.add("traffic_record_off_pickup_median_ms", median(pickUp[0]),
                   "ms, reply byte to read end, record off");
        report.add("traffic_record_on_pickup_median_ms", median(pickUp[1]),
                   "ms, the same with the record on");
        report.add("traffic_record_off_read_ratio", median(readRatio[0]),
                   "memory read time / bound, median of 31, record off");
        report.add("traffic_record_on_read_ratio", median(readRatio[1]), "the same with the record on");
    }

private:
    // From the reply's first byte becoming readable to the end of the read.
    double pickUpMs() {
        driver.wire(0).clear();
        sim::SimTime ended{};
        runToEnd([&]() -> QCoro::Task<> {
            link.send_command("S\r");
            co_await link.read_char();
            ended = sim::SimClock::now();
            // The rest of the reply, so that none of it is left for the next request.
            co_await link.read_char();
            co_await link.read_char();
        });
        for (const auto& byte : driver.wire(0).bytes()) {
            if (byte.direction == sim::WireRecord::Direction::UnitToHost) {
                return std::chrono::duration<double, std::milli>(ended - byte.at).count();
            }
        }
        return std::nan("");
    }

    double readMs() {
        protocol::StoredText stat;
        const auto started = std::chrono::steady_clock::now();
        auto outcome = config::MemoryOutcome::EndedQuietly;
        runToEnd([&]() -> QCoro::Task<> { outcome = co_await editor.read(session, stat); });
        const auto took = std::chrono::steady_clock::now() - started;
        if (outcome != config::MemoryOutcome::Read) {
            std::fprintf(stderr, "memory read ended with \"%s\"\n", qPrintable(stat.text()));
        }
        return std::chrono::duration<double, std::milli>(took).count();
    }

    // The line's own time for a read: 16 x (4 request and 3 reply bytes + the unit's answer).
    [[nodiscard]] double readBoundMs() const {
        return std::chrono::duration<double, std::milli>(16 * (7 * timing_.byteTime + timing_.processingTime))
            .count();
    }

    config::MemoryEditor editor;
};

} // namespace valve::bench
