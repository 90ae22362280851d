// How the link waits for a reply character, against the literal busy-poll
// wait (poll the queue, process events, check the timer, no sleep):
//  - processor use while a read waits its whole limit for a silent unit;
//  - pick-up latency: from a reply byte becoming readable to the read's end.
#include "bench_support.h"
#include "link/device_search.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "sim/simulated_driver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <qcoro/qcorotask.h>

using namespace std::chrono;
using valve::sim::SimClock;
using valve::sim::WireRecord;

namespace {

constexpr int kSamples = 200;
constexpr milliseconds kReplyLimit{3000};

struct Bench {
    valve::sim::SimulatedDriver driver;
    valve::bench::FirstDeviceChooser chooser;
    valve::link::EventLog log;
    valve::link::DeviceSearch search{driver, chooser, log};
    valve::link::UsbLink link{driver, search, log};
    bool done = false;

    Bench() { driver.addAdapter("NR Valve Unit"); }

    template <typename Body>
    void run(Body body) {
        done = false;
        [](Bench& self, Body job) -> QCoro::Task<> {
            co_await job();
            self.done = true;
        }(*this, body);
        while (!done) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    // The literal reference: poll, process events, check the limit, no sleep.
    char busyPollRead() {
        const auto deadline = steady_clock::now() + kReplyLimit;
        std::uint32_t queued = 0;
        for (;;) {
            driver.getQueueStatus(link.usb_handle(), queued);
            QCoreApplication::processEvents();
            if (steady_clock::now() >= deadline) {
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
    double pickUp(SimClock::time_point returned) {
        for (const auto& byte : driver.wire(0).bytes()) {
            if (byte.direction == WireRecord::Direction::UnitToHost) {
                return duration<double, std::micro>(returned - byte.at).count();
            }
        }
        return -1.0;
    }
};

double cpuPercentOver(const std::function<void()>& wait) {
    const auto cpuBefore = valve::bench::cpuTime();
    const auto wallBefore = steady_clock::now();
    wait();
    const auto wall = duration<double>(steady_clock::now() - wallBefore).count();
    const auto cpu = duration<double>(valve::bench::cpuTime() - cpuBefore).count();
    return 100.0 * cpu / wall;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Bench bench;
    bench.driver.setCallLogEnabled(false);
    bench.run([&]() -> QCoro::Task<> { co_await bench.link.configure_usb_connection(); });

    valve::bench::Report report;
    bench.driver.unit(0).setPowered(false);
    report.add("link_wait_cpu_percent", cpuPercentOver([&] {
                   bench.run([&]() -> QCoro::Task<> {
                       bench.link.send_command("S\r");
                       co_await bench.link.read_char();
                   });
               }),
               "% of one core, 3000 ms wait for a silent unit");
    report.add("busy_poll_wait_cpu_percent", cpuPercentOver([&] {
                   bench.link.send_command("S\r");
                   bench.busyPollRead();
               }),
               "% of one core (reference)");
    bench.driver.unit(0).setPowered(true);

    std::vector<double> ours;
    std::vector<double> reference;
    for (int i = 0; i < kSamples; ++i) {
        bench.driver.wire(0).clear();
        bench.run([&]() -> QCoro::Task<> {
            bench.link.send_command("S\r");
            co_await bench.link.read_char();
            ours.push_back(bench.pickUp(SimClock::now()));
        });
        bench.driver.wire(0).clear();
        bench.link.send_command("S\r");
        bench.busyPollRead();
        reference.push_back(bench.pickUp(SimClock::now()));
    }
    report.add("link_pickup_latency_median_ms", valve::bench::median(ours) / 1000.0, "ms, reply byte to read end");
    report.add("busy_poll_pickup_latency_median_ms", valve::bench::median(reference) / 1000.0,
               "ms (reference)");
    report.print(valve::bench::wantsJson(argc, argv));
    return 0;
}
