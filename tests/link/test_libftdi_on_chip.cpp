// The libftdi1 backend: the real libftdi1 on emulated chips (tests/link/emulated_usb).
#include "coro_test.h"
#include "d2xx_double/double_control.h"
#include "emulated_usb/unit_on_line.h"
#include "link/backends/d2xx_driver.h"
#include "link/backends/fallback_driver.h"
#include "link/backends/libftdi_driver.h"
#include "link/backends/libftdi_support.h"
#include "link/device_search.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"
#include "protocol/exchange.h"
#include "record/event_log.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace valve::testing {
namespace {

using namespace std::chrono_literals;
using usbchip::Bus;
using usbchip::Chip;
using usbchip::ChipId;
namespace ft = link::ft;
namespace libftdi = link::libftdi;

constexpr auto kProduct = "FT232R USB UART";

constexpr auto unbound = [](Chip& chip) { chip.kernelDriver = false; }; // no kernel driver
constexpr auto look = [](ChipId chip) { return Bus::get().look(chip); };

// An adapter on port `port` of hub 1 as `edit` leaves it, its unit with real wire timing but quick moves.
void asIs(Chip& /*chip*/) {}
ChipId plug(std::uint8_t port, void (*edit)(Chip&) = asIs) {
    Chip chip;
    std::tie(chip.product, chip.serial) = std::tuple(kProduct, "FT" + std::to_string(port));
    chip.ports = {1, port};
    chip.peer = std::make_shared<usbchip::UnitOnLine>(sim::UnitTiming{sim::kByteTime19200, 200us, 1ms});
    edit(chip);
    return Bus::get().plug(std::move(chip));
}

sim::WireRecord wireOf(ChipId chip) {
    const auto lock = Bus::get().lock();
    return static_cast<usbchip::UnitOnLine&>(*Bus::get().chip(chip).peer).unit.wire();
}

// The link on the chips of the emulated bus through the libftdi1 backend, with the backend's lines
// in the events log; libftdi1 is seen by a user without root rights unless given.
struct ChipSession {
    // Unplugs the bus's chips for the next session once the backend has closed them.
    struct Unplug {
        ~Unplug() { Bus::get().unplugAll(); }
    } unplug;
    explicit ChipSession(bool asRoot = false, link::LinkTiming timing = {300ms, 10ms, 1ms})
        : driver(libftdi::SystemView{usbchip::kNoSystemTree, usbchip::kNoSystemTree, asRoot}),
          link(driver, search, log, timing) {
        driver.setDiagnosticSink([this](const QString& line) { log.show_msg(line); });
    }
    bool configure() { return await(link.configure_usb_connection()); }
    QByteArray ask(const char* line, int replyLength = 3) {
        await(exchange.run(line, replyLength));
        return QByteArray(exchange.reply_buf().slot.data(), replyLength);
    }
    std::uint32_t queued() {
        std::uint32_t count = 0;
        EXPECT_EQ(driver.getQueueStatus(link.usb_handle(), count), ft::OK);
        return count;
    }

    link::LibftdiDriver driver;
    PickingChooser chooser;
    record::EventLog log;
    link::DeviceSearch search{driver, chooser, log};
    link::UsbLink link;
    protocol::Exchange exchange{link};
};

struct LibftdiOnChip : ::testing::Test {
    ChipSession s;
};

TEST_F(LibftdiOnChip, IdenticalAdaptersAreListedInTreeOrderAndOpenedOneAfterTheOther) {
    // Plugged in first, on port 10, which comes after port 2; its latency timer takes no less than 2 ms.
    const auto later = plug(10, [](Chip& c) { c.lowestLatencyMs = 2; });
    const auto earlier = plug(2);
    const auto dual = plug(4, [](Chip& c) {
        c.type = usbchip::ChipType::FT2232H;
        c.product = "Dual RS232-HS";
    });
    plug(1, [](Chip& c) { // claimed by another program's libusb
        c.claimedElsewhere = true;
        unbound(c);
    });
    ASSERT_EQ(s.search.FindDevices(), 3);
    EXPECT_EQ(s.search.device_list(), (QList<QByteArray>{kProduct, "Dual RS232-HS", kProduct}));
    link::DeviceInfoDetail d[3];
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(s.driver.getDeviceInfoDetail(i, d[i]), ft::OK);
    }
    EXPECT_EQ(d[0].flags & ft::FLAGS_OPENED, ft::FLAGS_OPENED) << "listed as open, and never taken below";
    EXPECT_EQ(std::tuple(std::string(d[1].serialNumber.data()), d[1].locationId, d[2].id),
              std::tuple("FT2", (1u << 8) | look(earlier).address, 0x04036010u));

    // The same product string opens the first free one in tree order, with the lowest latency timer
    // the chip takes and CR as its event character; its unit hears it only at 19200 8N1.
    for (const auto& [chip, latencyMs] : {std::pair{earlier, 1}, {dual, 1}, {later, 2}}) {
        ASSERT_TRUE(s.configure());
        EXPECT_NE(look(chip).claimedBy, nullptr);
        EXPECT_EQ(std::pair(look(chip).latencyMs, look(chip).eventChar), std::pair(latencyMs, int{'\r'}));
        EXPECT_EQ(s.ask("S\r"), "01\r");
    }
    EXPECT_TRUE(s.log.lines().filter(QStringLiteral("could not be set")).isEmpty());
}

TEST_F(LibftdiOnChip, StaleRepliesAreDroppedWhereverTheyWaitAndPurgeEmptiesChipAndBackend) {
    const auto chip = plug(2, unbound);
    ASSERT_TRUE(s.configure());
    EXPECT_EQ(s.ask("P05\r", 1), "\r");
    // An unread reply in the backend's buffer, taken up while the link reads or after it rests.
    for (const auto quiet : {0ms, 200ms}) {
        s.link.write_str("R\r");
        ASSERT_TRUE(runUntil([&] { return s.queued() == 3; })) << "the reply arrives";
        runUntil([] { return false; }, quiet); // past the grace: the backend stops reading
        EXPECT_EQ(s.ask("S\r"), "05\r") << quiet.count() << " ms";
    }
    EXPECT_EQ(wireOf(chip).hostLines().size(), 5);
    EXPECT_TRUE(s.log.lines().mid(1).isEmpty());

    // One the chip kept while the backend rested.
    const link::FtHandle handle = s.link.usb_handle();
    const auto statusRequestAnswered = [&] {
        const auto sent = wireOf(chip).unitBytes().size() + 3;
        std::uint32_t written = 0;
        EXPECT_EQ(s.driver.write(handle, "S\r", 2, written), ft::OK);
        return runUntil([&] { return wireOf(chip).unitBytes().size() == sent; });
    };
    const auto pastTheGrace = [] { runUntil([] { return false; }, 300ms); }; // the reader rests
    pastTheGrace();
    ASSERT_TRUE(statusRequestAnswered());
    EXPECT_EQ(s.queued(), 0u) << "kept by the chip";
    // Discarded only if the backend fetches it before the command line goes out; the chip's next packet
    // waits for its latency timer (the event character is off), which runs for 50 ms from now.
    Bus::get().change(chip, [](Chip& c) {
        c.eventChar = -1;
        c.lastPacketAt = usbchip::Clock::now() + 50ms;
    });
    EXPECT_EQ(s.ask("R\r"), "43\r");
    pastTheGrace();

    // Three bytes in the backend's buffer, three more in the chip.
    s.driver.setReceiveWanted(handle, true);
    ASSERT_TRUE(statusRequestAnswered());
    ASSERT_TRUE(runUntil([&] { return s.queued() == 3; }));
    s.driver.setReceiveWanted(handle, false);
    ASSERT_TRUE(statusRequestAnswered());
    EXPECT_EQ(s.driver.purge(handle, link::UsbLink::kPurgeBoth), ft::OK);
    s.driver.setReceiveWanted(handle, true);
    EXPECT_EQ(s.queued(), 0u);
}

TEST_F(LibftdiOnChip, ChipFaultsEndInTheLinksOwnLinesAndPassingOnesKeepTheAdapter) {
    const QStringList reconnected{"Trying to close USB Port - Failed", "Found 1 Nerra unit through USB"};
    const struct {
        const char* name;
        usbchip::Faults faults;
        bool answered;
        QStringList lines; // logged by the exchange and the check after it
    } cases[] = {
        {"one-byte packets", {.shortPackets = 1000}, false, {}},
        {"silent chip", {.silent = true}, false, {}},
        {"write times out", {.writeTimesOut = true}, false, {"USB Error - could not write to device"}},
        {"one I/O error", {.ioErrors = 1}, true, {}},
        {"stall, cleared", {.inHalted = true}, true, {}},
        {"stall for good", {.inHalted = true, .haltSticks = true}, false, reconnected},
        {"I/O errors for good", {.ioErrors = 1000}, false, reconnected},
        {"control request fails", // flow control: the link's probe
         {.failingRequest = 2},
         true,
         {"Found 1 Nerra unit through USB", "Could not set flow control",
          "Could not reestablish connection"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto chip = plug(2, unbound); // the last case's session unplugged its chip
        ChipSession session(true, {100ms, 10ms, 1ms});
        ASSERT_TRUE(session.configure());
        session.log.clear();
        Bus::get().change(chip, [&](Chip& ch) { ch.faults = c.faults; });
        EXPECT_EQ(await(session.exchange.run("S\r", 3)), c.answered);
        std::uint32_t queued = 0; // given up, maybe only after the reply's time limit on a busy machine
        EXPECT_TRUE(c.lines != reconnected || runUntil([&] {
                        return session.driver.getQueueStatus(session.link.usb_handle(), queued);
                    }));
        await(session.link.check_usb_connection());
        EXPECT_EQ(session.log.lines(), c.lines);
        Bus::get().change(chip, [](Chip& ch) { ch.faults = {}; });
        await(session.link.check_usb_connection());
        EXPECT_EQ(session.ask("S\r"), "01\r");
    }
}

TEST_F(LibftdiOnChip, CloseDuringAPendingReadIsQuickAndLeavesNoThreadBehind) {
    const auto threads = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                             std::filesystem::directory_iterator());
    };
    const auto before = threads();
    plug(2, [](Chip& c) { c.faults = {.failingRequest = 9, .silent = true}; }); // 9: the latency timer
    ASSERT_TRUE(s.configure());
    EXPECT_EQ(s.log.lines().last(), libftdi::latencyTimerDiagnostic(kProduct, 1));
    EXPECT_GT(threads(), before);
    // The reader waits in a bulk read all along; settings do not wait for it.
    QElapsedTimer clock;
    qint64 inCalls = 0;
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(30ms);
        clock.start();
        EXPECT_EQ(s.driver.setFlowControl(s.link.usb_handle(), ft::FLOW_NONE, 0, 0), ft::OK);
        inCalls += clock.elapsed();
    }
    EXPECT_LT(inCalls, 30);
    clock.start();
    s.link.shut_down();
    EXPECT_LT(clock.elapsed(), 200);
    EXPECT_EQ(threads(), before);
}

// Beside D2XX, libftdi1 names D2XX's nameless entry for an adapter ftdi_sio holds, opens it when D2XX
// cannot, and keeps it named while open; each adapter is listed once, in D2XX's place. The emulated bus
// has no sysfs, so the test writes the little the backends read of it.
TEST_F(LibftdiOnChip, D2xxLeavesWhatTheKernelDriverHoldsToLibftdiListedOnceByName) {
    DoubleControl d2xx(D2XX_DOUBLE_PATH);
    d2xx.addHeldByKernel();
    d2xx.addDevice("NR Valve Unit", "FT1");
    // First in tree order, free of ftdi_sio and so D2XX's.
    plug(1, [](Chip& c) { unbound(c), c.product = "NR Valve Unit"; });
    plug(2);
    const QTemporaryDir sysfs;
    const std::filesystem::path root = sysfs.path().toStdString();
    const auto device = root / "bus/usb/devices/1-1.2";
    const auto interface = root / "bus/usb/devices/1-1.2:1.0";
    std::filesystem::create_directories(interface);
    std::filesystem::create_directory(device);
    for (const auto& [file, text] :
         {std::pair{"product", kProduct}, {"serial", "FT2"}, {"idVendor", "0403"}}) {
        std::ofstream(device / file) << text << '\n';
    }
    std::filesystem::create_directory_symlink("../../../bus/usb/drivers/ftdi_sio", interface / "driver");
    link::FallbackDriver fallback(
        link::D2xxDriver::load(D2XX_DOUBLE_PATH),
        std::make_unique<link::LibftdiDriver>(libftdi::SystemView{root, usbchip::kNoSystemTree, true}), root);
    QStringList told;
    fallback.setDiagnosticSink([&told](const QString& line) { told << line; });
    const auto listed = [&fallback] {
        QList<QByteArray> adapters; // description, serial number and whether in use
        for (const auto& a : link::listAdapters(fallback)) {
            adapters << a.description + ' ' + a.serialNumber + (a.openElsewhere ? " in use" : "");
        }
        return adapters;
    };
    EXPECT_EQ(listed(), (QList<QByteArray>{"FT232R USB UART FT2", "NR Valve Unit FT1"}));

    link::FtHandle handle = 0;
    ASSERT_EQ(fallback.openEx(kProduct, ft::OPEN_BY_DESCRIPTION, handle), ft::OK);
    EXPECT_EQ(fallback.close(handle), ft::OK);
    ASSERT_EQ(fallback.openEx(kProduct, ft::OPEN_BY_DESCRIPTION, handle), ft::OK);
    EXPECT_EQ(told, QStringList{libftdi::serialDriverFallbackDiagnostic(kProduct)}) << "once, for two opens";
    std::filesystem::remove(interface / "driver"); // ftdi_sio let go of it
    EXPECT_EQ(listed(), (QList<QByteArray>{"FT232R USB UART FT2 in use", "NR Valve Unit FT1"}));
}

} // namespace
} // namespace valve::testing
