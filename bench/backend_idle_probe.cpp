// One hardware backend with an adapter open, as perf_report's child process:
// how often the process wakes while nothing happens (voluntary context
// switches of all its threads over 10 s), then how soon a waiting read picks
// up a reply. Prints one JSON object.
//
//   backend_idle_probe libftdi ours|reference|no-event-char|timer-2ms
//     libftdi1 on an emulated FT232R (the stand-in libusb the program is linked
//     to) with a simulated unit at 19200 baud; the reference reads the chip
//     all the time, as the backend did before it read only on demand. The
//     pick-up is from the reply's last byte reaching the chip to the end of the
//     read of the whole reply. no-event-char: a chip that refuses the event
//     character; timer-2ms: one that also takes no latency timer below 2 ms,
//     as the backend set it before (both measure the pick-up only).
//   backend_idle_probe d2xx ours|reference <path of the D2XX double>
//     The D2XX backend on the project's test double, which signals the event
//     as FTDI's library does; the reference has the event refused, so the
//     waiter checks the queue every 20 ms, as it did before with or without it.
#include "bench_support.h"
#include "emulated_usb/unit_on_line.h"
#include "link/backends/d2xx_driver.h"
#include "link/backends/libftdi_driver.h"
#include "link/device_search.h"
#include "link/usb_link.h"
#include "protocol/exchange.h"
#include "record/event_log.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <dlfcn.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace valve;
using Clock = std::chrono::steady_clock;

constexpr auto kIdle = 10s;
constexpr int kSamples = 100;

void pause(std::chrono::milliseconds duration) {
    bench::runToEnd([duration]() -> QCoro::Task<> {
        link::WakeSignal never;
        co_await never.wait(duration);
    });
}

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The D2XX double's controls.
struct DoubleControls {
    explicit DoubleControls(const char* path) : library(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    template <typename Signature> Signature* fn(const char* name) const {
        return reinterpret_cast<Signature*>(dlsym(library, name));
    }
    void* library;
};

// The emulated chip with a unit on its line, and libftdi1 on it.
std::unique_ptr<link::FtdiDriver> emulatedChip(const QByteArray& mode, link::LinkTiming& timing,
                                               std::shared_ptr<usbchip::UnitOnLine>& unit) {
    usbchip::Chip chip;
    chip.product = "NR Valve Unit";
    chip.serial = "FT1";
    chip.ports = {1, 1};
    chip.kernelDriver = false;
    chip.peer = unit = std::make_shared<usbchip::UnitOnLine>();
    if (mode == "no-event-char" || mode == "timer-2ms") {
        chip.faults.failingRequest = 6; // the event character
    }
    if (mode == "timer-2ms") {
        chip.lowestLatencyMs = 2;
    }
    usbchip::Bus::get().plug(chip);
    if (mode == "reference") {
        timing.receiveGrace = -1ms; // read for good
    }
    return std::make_unique<link::LibftdiDriver>(
        link::libftdi::SystemView{usbchip::kNoSystemTree, usbchip::kNoSystemTree, true});
}

// Voluntary context switches of the whole process per second while nothing happens.
double idleWakeUpsPerSecond() {
    pause(500ms); // past the link's grace
    const long before = bench::processWakeUps(QCoreApplication::applicationPid());
    pause(kIdle);
    return static_cast<double>(bench::processWakeUps(QCoreApplication::applicationPid()) - before) /
           std::chrono::duration<double>(kIdle).count();
}

// When the last reply byte reached the emulated chip.
Clock::time_point replyEndAtChip(usbchip::UnitOnLine& unit) {
    auto lock = usbchip::Bus::get().lock();
    Clock::time_point at{};
    for (const auto& byte : unit.unit.wire().bytes()) {
        if (byte.direction == sim::WireRecord::Direction::UnitToHost) {
            at = byte.at;
        }
    }
    return at;
}

// Pick-up on the emulated chip: from the reply's end at the chip to the end
// of the read of the whole reply.
double chipPickUpMs(protocol::Exchange& exchange, usbchip::UnitOnLine& unit) {
    {
        auto lock = usbchip::Bus::get().lock();
        unit.unit.wire().clear();
    }
    Clock::time_point ended{};
    bench::runToEnd([&]() -> QCoro::Task<> {
        co_await exchange.run("S\r", 3);
        ended = Clock::now();
    });
    return millisecondsBetween(replyEndAtChip(unit), ended);
}

// Pick-up on the D2XX double: from a reply byte reaching its queue to the end
// of the read that waited for it.
double doublePickUpMs(protocol::Exchange& exchange, const DoubleControls& d2xx, int sample) {
    Clock::time_point arrived{};
    std::thread pusher([&, delay = std::chrono::microseconds(2000 + 37 * sample)] {
        std::this_thread::sleep_for(delay);
        arrived = Clock::now();
        d2xx.fn<void(const char*)>("dbl_push_rx")("0");
    });
    Clock::time_point ended{};
    bench::runToEnd([&]() -> QCoro::Task<> {
        co_await exchange.run("S\r", 1);
        ended = Clock::now();
    });
    pusher.join();
    return millisecondsBetween(arrived, ended);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString backend = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    const QByteArray mode = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    link::LinkTiming timing;
    std::unique_ptr<link::FtdiDriver> driver;
    std::shared_ptr<usbchip::UnitOnLine> unit;
    std::unique_ptr<DoubleControls> d2xx;
    if (backend == QStringLiteral("libftdi")) {
        driver = emulatedChip(mode, timing, unit);
    } else if (backend == QStringLiteral("d2xx") && argc > 3) {
        d2xx = std::make_unique<DoubleControls>(argv[3]);
        d2xx->fn<void()>("dbl_reset")();
        d2xx->fn<void(const char*, const char*, std::uint32_t)>("dbl_add_device")("NR Valve Unit", "FT1", 0);
        if (mode == "reference") {
            d2xx->fn<void(const char*, std::uint32_t)>("dbl_set_status")("FT_SetEventNotification", 4);
        }
        driver = link::D2xxDriver::load(argv[3]);
    }
    if (!driver) {
        std::fprintf(stderr, "usage: %s libftdi|d2xx ours|reference|no-event-char|timer-2ms [D2XX double]\n",
                     argv[0]);
        return 1;
    }
    bench::FirstDeviceChooser chooser;
    record::EventLog log;
    link::DeviceSearch search{*driver, chooser, log};
    link::UsbLink link{*driver, search, log, timing};
    protocol::Exchange exchange{link};
    bool connected = false;
    bench::runToEnd([&]() -> QCoro::Task<> { connected = co_await link.configure_usb_connection(); });
    if (!connected) {
        std::fprintf(stderr, "%s: could not open the adapter\n", argv[1]);
        return 1;
    }

    QJsonObject out;
    if (mode == "ours" || mode == "reference") {
        out.insert(QStringLiteral("wakeups_per_s"), idleWakeUpsPerSecond());
    }
    std::vector<double> pickUps;
    for (int i = 0; i < kSamples; ++i) {
        pickUps.push_back(unit ? chipPickUpMs(exchange, *unit) : doublePickUpMs(exchange, *d2xx, i));
        pause(std::chrono::milliseconds(3 + i % 7));
    }
    link.shut_down();
    out.insert(QStringLiteral("pickup_median_ms"), bench::median(pickUps));
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return 0;
}
