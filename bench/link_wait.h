#pragma once

// How the link waits for a reply character, against the literal busy-poll
// wait (poll the queue, process events, check the timer, no sleep):
//  - processor use while a read waits its whole limit for a silent unit;
//  - pick-up latency: from a reply byte becoming readable to the read's end.
#include "bench_support.h"
#include "link/device_search.h"
#include "link/usb_link.h"
#include "record/event_log.h"
#include "sim/simulated_driver.h"

#include <functional>

namespace valve::bench {

class LinkWaitBench {
public:
    static constexpr int kSamples = 200;
    static constexpr std::chrono::milliseconds kReplyLimit{3000};

    LinkWaitBench() {
        driver.setWireRecordEnabled(true);
        driver.addAdapter("NR Valve Unit");
        driver.setCallLogEnabled(false);
        runToEnd([this]() -> QCoro::Task<> { co_await link.configure_usb_connection(); });
    }

    // Adds processor use (plain and as demanded) and pick-up latency, ours and
    // the reference's.
    void report(Report& report) {
        driver.unit(0).setPowered(false);
        const CpuUse ourCpu = cpuUseOver([this] { runToEnd([this] { return sendAndRead(); }); });
        const CpuUse referenceCpu = cpuUseOver([this] {
            link.send_command("S\r");
            busyPollRead();
        });
        driver.unit(0).setPowered(true);
        report.add("link_wait_cpu_percent", ourCpu.percent, "% of one core, 3000 ms wait for a silent unit");
        report.add("busy_poll_wait_cpu_percent", referenceCpu.percent, "% of one core (reference)");
        report.add("link_wait_cpu_demand_percent", ourCpu.demandPercent,
                   "% of the time not spent waiting for a processor");
        report.add("busy_poll_wait_cpu_demand_percent", referenceCpu.demandPercent, "% (reference)");

        std::vector<double> ours;
        std::vector<double> reference;
        for (int i = 0; i < kSamples; ++i) {
            driver.wire(0).clear();
            runToEnd([this] { return sendAndRead(); });
            ours.push_back(pickUpMicros(readEnded_));
            driver.wire(0).clear();
            link.send_command("S\r");
            busyPollRead();
            reference.push_back(pickUpMicros(sim::SimClock::now()));
        }
        report.add("link_pickup_latency_median_ms", median(ours) / 1000.0, "ms, reply byte to read end");
        report.add("busy_poll_pickup_latency_median_ms", median(reference) / 1000.0, "ms (reference)");
    }

private:
    QCoro::Task<> sendAndRead() {
        link.send_command("S\r");
        co_await link.read_char();
        readEnded_ = sim::SimClock::now();
    }

    // The literal reference: poll, process events, check the limit, no sleep.
    char busyPollRead() {
        const auto deadline = std::chrono::steady_clock::now() + kReplyLimit;
        std::uint32_t queued = 0;
        for (;;) {
            driver.getQueueStatus(link.usb_handle(), queued);
            QCoreApplication::processEvents();
            if (std::chrono::steady_clock::now() >= deadline) {
                return 0;
            }
            if (queued >= 1) {
                break;
            }
        }
        char c = 0;
        std::uint32_t got = 0;
        driver.read(link.usb_handle(), &c, 1, got);
        return c;
    }

    // Microseconds from the first reply byte becoming readable to `returned`.
    double pickUpMicros(sim::SimTime returned) {
        for (const auto& byte : driver.wire(0).bytes()) {
            if (byte.direction == sim::WireRecord::Direction::UnitToHost) {
                return std::chrono::duration<double, std::micro>(returned - byte.at).count();
            }
        }
        return -1.0;
    }

    // Processor time over wall time; and over the wall time less the time the
    // thread was kept waiting for a processor, which is what the wait itself
    // asks for whatever else the machine is doing (a busy poll: all of it).
    struct CpuUse {
        double percent;
        double demandPercent;
    };

    static CpuUse cpuUseOver(const std::function<void()>& wait) {
        using std::chrono::duration;
        const auto cpuBefore = cpuTime();
        const auto queuedBefore = runQueueWait();
        const auto wallBefore = std::chrono::steady_clock::now();
        wait();
        const auto wall = duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        const auto queued = duration<double>(runQueueWait() - queuedBefore).count();
        const auto cpu = duration<double>(cpuTime() - cpuBefore).count();
        return {100.0 * cpu / wall, 100.0 * cpu / (wall - queued)};
    }

    sim::SimulatedDriver driver;
    FirstDeviceChooser chooser;
    record::EventLog log;
    link::DeviceSearch search{driver, chooser, log};
    link::UsbLink link{driver, search, log};
    sim::SimTime readEnded_{};
};

} // namespace valve::bench
