// The libftdi1 backend on emulated FTDI chips: the real libftdi1 over a
// stand-in libusb (tests/link/emulated_usb), each chip with a simulated unit
// on its serial line at 19200 baud.
#include "d2xx_double/double_control.h"
#include "emulated_usb/unit_on_line.h"
#include "link/d2xx_driver.h"
#include "link/fallback_driver.h"
#include "link/libftdi_driver.h"
#include "link/libftdi_support.h"
#include "link_on_adapters.h"

#include <QElapsedTimer>
#include <QTimer>
#include <thread>

namespace valve::testing {
namespace {

using usbchip::Bus;
using usbchip::Chip;
using usbchip::ChipType;
using usbchip::UnitOnLine;
namespace ft = link::ft;

// The unit's own timing, but quick moves.
constexpr sim::UnitTiming kUnitTiming{sim::kByteTime19200, 200us, 1ms};

Chip adapter(const std::string& product, std::uint8_t port, ChipType type = ChipType::FT232R) {
    Chip chip;
    chip.type = type;
    chip.product = product;
    chip.serial = "FT" + std::to_string(port);
    chip.ports = {1, port};
    chip.peer = std::make_shared<UnitOnLine>(kUnitTiming);
    return chip;
}

sim::SimulatedUnit& unitOf(const Chip& chip) {
    return static_cast<UnitOnLine&>(*chip.peer).unit;
}

class EmulatedAdapters : public AdapterRig {
public:
    ~EmulatedAdapters() override { Bus::get().unplugAll(); }
    link::FtdiDriver& driver() override { return driver_; }
    std::size_t plug(const char* description) override {
        chips_.push_back(Bus::get().plug(adapter(description, static_cast<std::uint8_t>(chips_.size() + 1))));
        return chips_.size() - 1;
    }
    void unplug(std::size_t adapter) override { Bus::get().unplug(chips_.at(adapter)); }
    void replug(std::size_t adapter) override { Bus::get().replug(chips_.at(adapter)); }
    QList<QByteArray> hostLines(std::size_t adapter) override {
        const auto lock = Bus::get().lock();
        return unitOf(Bus::get().chip(chips_.at(adapter))).wire().hostLines();
    }

private:
    std::vector<usbchip::ChipId> chips_;
    link::LibftdiDriver driver_{{Bus::get().sysRoot(), Bus::get().procRoot(), true}};
};

INSTANTIATE_TEST_SUITE_P(LibftdiOnEmulatedChip, LinkOnAdapters,
                         ::testing::Values(RigMaker{"libftdi1",
                                                    [] { return std::make_unique<EmulatedAdapters>(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

// The panel's link on the libftdi1 backend, seen as a user without root
// rights, with the backend's lines in the events log.
struct ChipSession {
    explicit ChipSession(link::LinkTiming timing = {300ms, 10ms, 1ms}) : link{driver, search, log, timing} {
        driver.setDiagnosticSink([this](const QString& line) { log.show_msg(line); });
    }
    bool configure() { return await(link.configure_usb_connection()); }

    link::LibftdiDriver driver{{Bus::get().sysRoot(), Bus::get().procRoot(), false}};
    PickingChooser chooser;
    link::EventLog log;
    link::DeviceSearch search{driver, chooser, log};
    link::UsbLink link;
    protocol::Exchange exchange{link};
};

class LibftdiOnChip : public ::testing::Test {
protected:
    ~LibftdiOnChip() override { Bus::get().unplugAll(); }
    static usbchip::ChipId plug(Chip chip) { return Bus::get().plug(std::move(chip)); }
    static Chip look(usbchip::ChipId chip) { return Bus::get().look(chip); }
    static bool heldBySerialDriver(const char* product) {
        return link::libftdi::heldBySerialDriver(Bus::get().sysRoot(), product);
    }
    std::uint32_t queued() {
        std::uint32_t count = 0;
        EXPECT_EQ(s.driver.getQueueStatus(s.link.usb_handle(), count), ft::OK);
        return count;
    }

    ChipSession s;
};

TEST_F(LibftdiOnChip, IdenticalAdaptersAreListedInTreeOrderAndOpenedOneAfterTheOther) {
    const auto later = plug(adapter("FT232R USB UART", 3)); // plugged in first, on the later port
    const auto earlier = plug(adapter("FT232R USB UART", 2));
    const auto dual = plug(adapter("Dual RS232-HS", 4, ChipType::FT2232H));
    ASSERT_EQ(s.search.FindDevices(), 3);
    EXPECT_EQ(s.search.device_list(),
              (QList<QByteArray>{"FT232R USB UART", "FT232R USB UART", "Dual RS232-HS"}));
    link::DeviceInfoDetail detail;
    ASSERT_EQ(s.driver.getDeviceInfoDetail(0, detail), ft::OK);
    EXPECT_STREQ(detail.serialNumber.data(), "FT2");
    EXPECT_EQ(detail.locationId, (1u << 8) | look(earlier).address);
    ASSERT_EQ(s.driver.getDeviceInfoDetail(2, detail), ft::OK);
    EXPECT_EQ(detail.id, 0x04036010u);

    // The same product string opens the first free one in tree order, each
    // set to 19200 baud 8N1 without flow control and a 2 ms latency timer.
    for (const auto chip : {earlier, later, dual}) {
        ASSERT_TRUE(s.configure());
        EXPECT_NE(look(chip).claimedBy[0], nullptr);
        const usbchip::LineSettings line = look(chip).line;
        EXPECT_EQ(std::tuple(line.baud, line.dataBits, line.parity, line.stopBits, line.flowControl),
                  std::tuple(19200u, 8, 0, 0, 0));
        EXPECT_EQ(look(chip).latencyMs, 2);
        EXPECT_EQ(ask(s.exchange, "S\r"), "01\r");
    }
}

TEST_F(LibftdiOnChip, KernelDriverIsTakenForTheSessionToldAndHandedBack) {
    const auto chip = plug(adapter("FT232R USB UART", 2));
    ASSERT_TRUE(heldBySerialDriver("FT232R USB UART"));
    ASSERT_TRUE(s.configure());
    EXPECT_FALSE(look(chip).kernelDriver[0]);
    EXPECT_FALSE(heldBySerialDriver("FT232R USB UART"));
    ASSERT_EQ(s.log.lines().size(), 2);
    EXPECT_TRUE(s.log.lines()[1].startsWith("The USB adapter \"FT232R USB UART\" was taken from the kernel's "
                                            "serial driver (ftdi_sio): /dev/ttyUSB"));
    s.link.shut_down();
    EXPECT_TRUE(look(chip).kernelDriver[0]);
    EXPECT_TRUE(heldBySerialDriver("FT232R USB UART"));
}

TEST_F(LibftdiOnChip, AdapterInUseElsewhereIsListedAsOpenAndNeverTaken) {
    Chip claimed = adapter("FT232R USB UART", 2);
    claimed.kernelDriver = {false, false};
    claimed.claimedElsewhere = true;
    Chip portOpen = adapter("FT232R USB UART", 3);
    portOpen.ttyOpenElsewhere = true;
    const auto chips = {plug(claimed), plug(portOpen)};
    EXPECT_FALSE(s.configure());
    EXPECT_EQ(s.log.lines(), QStringList{"Error - Could not find any Nerra Devices through USB"});
    link::FtHandle handle = 0;
    EXPECT_EQ(s.driver.openEx("FT232R USB UART", ft::OPEN_BY_DESCRIPTION, handle), ft::DEVICE_NOT_OPENED);
    for (const auto chip : chips) {
        EXPECT_EQ(look(chip).detaches, 0);
        EXPECT_EQ(look(chip).claimedBy[0], nullptr);
    }
}

TEST_F(LibftdiOnChip, NoPermissionPutsTheFixInTheEventsLog) {
    Chip closed = adapter("FT232R USB UART", 2);
    closed.noPermission = true;
    plug(closed);
    EXPECT_FALSE(s.configure());
    EXPECT_EQ(s.log.lines(), (QStringList{"Found 1 Nerra unit through USB",
                                          link::libftdi::permissionDiagnostic("FT232R USB UART"),
                                          "Could not open USB Device"}));
}

TEST_F(LibftdiOnChip, WhatTheChipKeptWhileIdleIsDiscardedAndPurgeEmptiesChipAndBackend) {
    plug(adapter("FT232R USB UART", 2));
    ASSERT_TRUE(s.configure());
    const link::FtHandle handle = s.link.usb_handle();
    std::uint32_t written = 0;
    const auto writeStatusRequest = [&] { ASSERT_EQ(s.driver.write(handle, "S\r", 2, written), ft::OK); };
    const auto pastTheGrace = [] { runUntil([] { return false; }, 300ms); }; // the reader rests
    pastTheGrace();
    writeStatusRequest();
    runUntil([] { return false; }, 20ms);
    EXPECT_EQ(queued(), 0u) << "kept by the chip";
    EXPECT_EQ(ask(s.exchange, "R\r"), "43\r");
    pastTheGrace();

    // Three bytes in the backend's buffer, three more in the chip.
    s.driver.setReceiveWanted(handle, true);
    writeStatusRequest();
    ASSERT_TRUE(runUntil([&] { return queued() == 3; }));
    s.driver.setReceiveWanted(handle, false);
    writeStatusRequest();
    runUntil([] { return false; }, 20ms);
    EXPECT_EQ(s.driver.purge(handle, link::UsbLink::kPurgeBoth), ft::OK);
    s.driver.setReceiveWanted(handle, true);
    EXPECT_EQ(queued(), 0u);
}

TEST_F(LibftdiOnChip, UnplugDuringAReplyWaitEndsItAndTheAdapterComesBackAtANewAddress) {
    const auto chip = plug(adapter("FT232R USB UART", 2));
    ASSERT_TRUE(s.configure());
    const auto address = look(chip).address;
    Bus::get().change(chip, [](Chip& c) { unitOf(c).delayReplies(250ms, 1); });
    QTimer::singleShot(20, [chip] { Bus::get().unplug(chip); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(await(s.exchange.run("S\r", 3)));
    EXPECT_LT(clock.elapsed(), 200) << "the wait ends with the adapter, not by its time limit";

    Bus::get().replug(chip);
    EXPECT_TRUE(await(s.link.check_usb_connection()));
    EXPECT_EQ(s.log.lines().mid(0, 2),
              (QStringList{"Trying to close USB Port - Failed", "Found 1 Nerra unit through USB"}));
    EXPECT_GT(look(chip).address, address);
    EXPECT_EQ(ask(s.exchange, "S\r"), "01\r");
}

// Each fault ends in a status number the link handles, with its own lines,
// never in a crash or a hang; the adapter is given up only when it is gone
// for good, and works again once the fault is over.
TEST_F(LibftdiOnChip, ChipFaultsEndInTheLinksOwnLinesAndPassingOnesKeepTheAdapter) {
    const struct {
        const char* name;
        std::function<void(usbchip::Faults&)> inject;
        bool answered;
        QStringList lines; // logged by the exchange and the check after it
    } cases[] = {
        {"one-byte packets", [](auto& f) { f.shortPackets = 1000; }, false, {}},
        {"silent chip", [](auto& f) { f.silent = true; }, false, {}},
        {"write times out",
         [](auto& f) { f.writeTimesOut = true; },
         false,
         {"USB Error - could not write to device"}},
        {"one I/O error", [](auto& f) { f.ioErrors = 1; }, true, {}},
        {"stall, cleared", [](auto& f) { f.inHalted = true; }, true, {}},
        {"stall for good",
         [](auto& f) { f.inHalted = f.haltSticks = true; },
         false,
         {"Trying to close USB Port - Failed", "Found 1 Nerra unit through USB"}},
        {"I/O errors for good",
         [](auto& f) { f.ioErrors = 1000; },
         false,
         {"Trying to close USB Port - Failed", "Found 1 Nerra unit through USB"}},
        {"control request fails",
         [](auto& f) { f.failingRequest = 2; }, // flow control: the link's probe
         true,
         {"Found 1 Nerra unit through USB", "Could not set flow control",
          "Could not reestablish connection"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bus::get().unplugAll();
        Chip free = adapter("FT232R USB UART", 2);
        free.kernelDriver = {false, false};
        const auto chip = plug(free);
        ChipSession session({100ms, 10ms, 1ms});
        ASSERT_TRUE(session.configure());
        session.log.clear();
        Bus::get().change(chip, [&](Chip& ch) { c.inject(ch.faults); });
        EXPECT_EQ(await(session.exchange.run("S\r", 3)), c.answered);
        await(session.link.check_usb_connection());
        EXPECT_EQ(session.log.lines(), c.lines);
        Bus::get().change(chip, [](Chip& ch) { ch.faults = {}; });
        await(session.link.check_usb_connection());
        EXPECT_EQ(ask(session.exchange, "S\r"), "01\r");
    }
}

TEST_F(LibftdiOnChip, CloseDuringAPendingReadIsQuickAndLeavesNoThreadBehind) {
    const auto threads = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                             std::filesystem::directory_iterator());
    };
    const auto before = threads();
    Chip silent = adapter("FT232R USB UART", 2);
    silent.faults.silent = true;
    silent.faults.failingRequest = 9; // the latency timer
    const auto chip = plug(silent);
    ASSERT_TRUE(s.configure());
    EXPECT_EQ(s.log.lines().last(), link::libftdi::latencyTimerDiagnostic("FT232R USB UART", 2));
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
    EXPECT_TRUE(look(chip).kernelDriver[0]);
}

// With D2XX loaded, an adapter it cannot open because ftdi_sio holds it is
// opened through libftdi1, and the events log says why and how to change it.
TEST_F(LibftdiOnChip, D2xxFallsBackToLibftdiForAnAdapterTheKernelDriverHolds) {
    DoubleControl d2xx(D2XX_DOUBLE_PATH);
    d2xx.addDevice("FT232R USB UART");
    d2xx.setStatus("FT_OpenEx", ft::DEVICE_NOT_OPENED);
    Chip unbound = adapter("FT232R USB UART", 2);
    unbound.kernelDriver = {false, false};
    const auto chip = plug(unbound);
    link::FallbackDriver driver(link::D2xxDriver::load(D2XX_DOUBLE_PATH),
                                std::make_unique<link::LibftdiDriver>(link::libftdi::SystemView{
                                    Bus::get().sysRoot(), Bus::get().procRoot(), true}),
                                Bus::get().sysRoot());
    driver.setDiagnosticSink([this](const QString& line) { s.log.show_msg(line); });
    link::DeviceSearch search{driver, s.chooser, s.log};
    link::UsbLink link{driver, search, s.log, {300ms, 10ms, 1ms}};
    protocol::Exchange exchange{link};
    EXPECT_FALSE(await(link.configure_usb_connection())) << "not held by ftdi_sio: D2XX's failure stands";
    EXPECT_EQ(s.log.lines(), (QStringList{"Found 1 Nerra unit through USB", "Could not open USB Device"}));

    Bus::get().change(chip, [](Chip& c) { c.kernelDriver = {true, true}; });
    s.log.clear();
    ASSERT_TRUE(await(link.configure_usb_connection()));
    EXPECT_EQ(s.log.lines(), (QStringList{"Found 1 Nerra unit through USB",
                                          link::libftdi::serialDriverFallbackDiagnostic("FT232R USB UART")}));
    EXPECT_EQ(ask(exchange, "S\r"), "01\r");
    link.shut_down();
    EXPECT_TRUE(look(chip).kernelDriver[0]);
}

} // namespace
} // namespace valve::testing
