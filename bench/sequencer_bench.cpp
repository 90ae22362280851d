// The timed event run on the simulated unit: twenty events half a second
// apart, from 0.5 s to 10 s. For each step, how far its move command left the
// host from its time counted from the press of "Run"; against a model of the
// same table run with relative delays on a timer that ticks every 15.6 ms.
#include "bench_support.h"
#include "link/device_search.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "protocol/exchange.h"
#include "protocol/position_control.h"
#include "protocol/session.h"
#include "sequencer/sequencer.h"
#include "sequencer/stored_event_table.h"
#include "sim/simulated_driver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <cmath>
#include <qcoro/qcorotask.h>

using namespace std::chrono;
using valve::sim::SimClock;
using valve::sim::WireRecord;

namespace {

constexpr int kEvents = 20;
constexpr double kInterval = 0.5; // seconds
constexpr double kCoarseTickMs = 15.6;

// Boxes are not expected in this run; any would be answered at once.
class SilentBoxes : public valve::link::MessageBoxes {
public:
    int shown = 0;
    QCoro::Task<valve::link::BoxAnswer> message_box(QString, valve::link::BoxButtons, QString) override {
        ++shown;
        co_return valve::link::BoxAnswer::Ok;
    }
};

struct Bench {
    valve::sim::SimulatedDriver driver;
    valve::bench::FirstDeviceChooser chooser;
    valve::link::EventLog log;
    valve::link::DeviceSearch search{driver, chooser, log};
    valve::link::UsbLink link{driver, search, log};
    valve::protocol::Exchange exchange{link};
    valve::protocol::PositionControl positions{exchange, log};
    SilentBoxes boxes;
    valve::protocol::Session session{link, log, boxes, exchange, positions};
    valve::sequencer::StoredEventTable table;
    valve::sequencer::Sequencer sequencer{session, table};

    Bench() { driver.addAdapter("NR Valve Unit"); }

    void run(QCoro::Task<> task) {
        bool done = false;
        [](QCoro::Task<> job, bool& finished) -> QCoro::Task<> {
            co_await std::move(job);
            finished = true;
        }(std::move(task), done);
        while (!done) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    // When each move command's first byte was written: the wire records it on
    // reaching the unit, one byte time later (the line is idle before a move).
    std::vector<SimClock::time_point> moveWrites() {
        std::vector<SimClock::time_point> times;
        bool lineStart = true;
        for (const auto& byte : driver.wire(0).bytes()) {
            if (byte.direction != WireRecord::Direction::HostToUnit) {
                continue;
            }
            if (lineStart && byte.value == 'P') {
                times.push_back(byte.at - valve::sim::kByteTime19200);
            }
            lineStart = byte.value == '\r';
        }
        return times;
    }
};

double eventTime(int step) {
    return kInterval * (step + 1);
}

// The relative-delay reference: each delay (rounded to the millisecond) is
// started when the previous step woke, fires on the first coarse tick after
// it has run out, and the step cannot begin before the previous move ended.
std::vector<double> coarseModelMs(const std::vector<double>& moveMs) {
    std::vector<double> starts;
    double woke = 0.0;
    double previousTime = 0.0;
    for (int step = 0; step < kEvents; ++step) {
        const double delay = std::nearbyint((eventTime(step) - previousTime) * 1000.0);
        double fires = std::ceil((woke + delay) / kCoarseTickMs) * kCoarseTickMs;
        if (step > 0) {
            fires = std::max(fires, woke + moveMs[step - 1]);
        }
        starts.push_back(fires);
        woke = fires;
        previousTime = eventTime(step);
    }
    return starts;
}

struct Figures {
    double medianMs;
    double largestMs;
    double lastMs;
};

Figures figuresOf(const std::vector<double>& deviationsMs) {
    double largest = 0.0;
    for (double d : deviationsMs) {
        largest = std::max(largest, std::abs(d));
    }
    std::vector<double> absolute;
    for (double d : deviationsMs) {
        absolute.push_back(std::abs(d));
    }
    return {valve::bench::median(absolute), largest, deviationsMs.back()};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool json = valve::bench::wantsJson(argc, argv);

    Bench bench;
    bench.run([](Bench& b) -> QCoro::Task<> { co_await b.link.configure_usb_connection(); }(bench));
    for (int step = 0; step < kEvents; ++step) {
        // Between positions 2 and 3: every move is one step of the valve.
        bench.table.setRow(step, QString::number(eventTime(step)), QString::number(2 + step % 2));
    }
    bench.driver.wire(0).clear();

    std::vector<SimClock::time_point> moveEnds;
    QObject::connect(&bench.log, &valve::link::EventLog::lineAppended, [&](const QString& line) {
        if (line.startsWith(QStringLiteral("Position set to")) ||
            line.startsWith(QStringLiteral("Position was"))) {
            moveEnds.push_back(SimClock::now());
        }
    });

    const auto cpuBefore = valve::bench::cpuTime();
    const auto pressed = SimClock::now();
    bench.run(bench.sequencer.btnRun_Click());
    const auto wall = SimClock::now() - pressed;
    const auto cpu = valve::bench::cpuTime() - cpuBefore;

    const auto writes = bench.moveWrites();
    if (writes.size() != static_cast<std::size_t>(kEvents) || moveEnds.size() != writes.size() ||
        bench.boxes.shown != 0) {
        std::fprintf(stderr, "run incomplete: %zu moves sent, %zu ended, %d boxes\n", writes.size(),
                     moveEnds.size(), bench.boxes.shown);
        return 1;
    }
    std::vector<double> ours;
    std::vector<double> moveMs;
    for (int step = 0; step < kEvents; ++step) {
        const double sentMs = duration<double, std::milli>(writes[step] - pressed).count();
        ours.push_back(sentMs - eventTime(step) * 1000.0);
        moveMs.push_back(duration<double, std::milli>(moveEnds[step] - writes[step]).count());
    }
    const auto model = coarseModelMs(moveMs);
    std::vector<double> reference;
    for (int step = 0; step < kEvents; ++step) {
        reference.push_back(model[step] - eventTime(step) * 1000.0);
    }

    const Figures a = figuresOf(ours);
    const Figures b = figuresOf(reference);
    valve::bench::Report report;
    report.add("sequencer_deviation_median_ms", a.medianMs, "ms, |move sent - due|, 20 steps");
    report.add("sequencer_deviation_largest_ms", a.largestMs, "ms");
    report.add("sequencer_deviation_last_step_ms", a.lastMs, "ms, signed");
    report.add("sequencer_run_cpu_percent",
               100.0 * duration<double>(cpu).count() / duration<double>(wall).count(),
               "% of one core over the run");
    report.add("sequencer_move_time_median_ms", valve::bench::median(moveMs),
               "ms, move sent to position confirmed");
    report.add("coarse_relative_deviation_median_ms", b.medianMs, "ms, model: relative delays, 15.6 ms tick");
    report.add("coarse_relative_deviation_largest_ms", b.largestMs, "ms");
    report.add("coarse_relative_deviation_last_step_ms", b.lastMs, "ms, signed");
    report.print(json);
    return 0;
}
