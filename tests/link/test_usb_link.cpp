// The link, the device search and the operation queue on the simulated driver.
#include "coro_test.h"
#include "link/device_search.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"
#include "record/event_log.h"
#include "sim/simulated_driver.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

namespace valve::testing {
namespace {

using namespace std::chrono_literals;
using link::ft::IO_ERROR;
using sim::DriverCall;

struct PollingDriver : sim::SimulatedDriver {
    bool setReceiveNotifier(std::function<void()>) override { return false; }
};

struct LinkOnSim {
    explicit LinkOnSim(std::unique_ptr<sim::SimulatedDriver> d = std::make_unique<sim::SimulatedDriver>(),
                       link::LinkTiming timing = {50ms, 80ms, 1ms})
        : simulated(std::move(d)), link{driver, search, log, timing} {}
    bool configure() { return await(link.configure_usb_connection()); }
    bool connect() { return driver.addAdapter("NR Valve", sim::UnitTiming::instant()) == 0 && configure(); }
    std::pair<int, char> readChar() {
        const auto result = await(link.read_char());
        return {result.code, result.ch};
    }

    std::unique_ptr<sim::SimulatedDriver> simulated;
    sim::SimulatedDriver& driver = *simulated;
    PickingChooser chooser;
    record::EventLog log;
    link::DeviceSearch search{driver, chooser, log};
    link::UsbLink link;
};

class UsbLinkTest : public ::testing::Test, public LinkOnSim {};

TEST(UsbLinkConfigure, EachFailingCallHasItsLineAndClosesTheAdapter) {
    const QStringList configured{
        "FT_OpenEx(\"NR Valve\", 2)", "FT_SetBaudRate(19200)",   "FT_SetDataCharacteristics(8, 0, 0)",
        "FT_SetFlowControl(0, 0, 0)", "FT_SetTimeouts(3000, 0)", "FT_Purge(3)"};
    const struct {
        DriverCall fails;
        QStringList lines; // after the count; none: the configuration succeeds
        qsizetype callsMade;
    } cases[] = {
        {DriverCall::OpenEx, {"Could not open USB Device"}, 1},
        {DriverCall::SetBaudRate, {"Could not set the Baud Rate through USB"}, 2},
        {DriverCall::SetDataCharacteristics, {"Could not configure USB connection"}, 3},
        {DriverCall::SetFlowControl, {"Could not set flow control"}, 4},
        {DriverCall::SetTimeouts,
         {"Could not set the time-outs of the USB connection", "USB Close Failed"},
         5},
        {DriverCall::Purge, {}, 6}, // of no consequence
        {DriverCall::Close, {}, 6}, // not called
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(configured.value(c.callsMade - 1).toStdString());
        LinkOnSim s;
        s.driver.addAdapter("NR Valve");
        s.driver.failCall(c.fails, IO_ERROR);
        const bool closeFails = c.lines.contains("USB Close Failed"); // the close after the failure too
        if (closeFails) {
            s.driver.failCall(DriverCall::Close, IO_ERROR);
        }
        const bool opened = c.lines.isEmpty();
        EXPECT_EQ(s.configure(), opened);
        EXPECT_EQ(s.log.lines(), QStringList{"Found 1 Nerra unit through USB"} + c.lines);
        const auto made =
            s.driver.callTexts({DriverCall::GetQueueStatus, DriverCall::Read}); // polls left out
        const bool closed = !opened && c.callsMade > 1;
        EXPECT_EQ(made.mid(made.indexOf(QRegularExpression("FT_OpenEx.*"))),
                  configured.mid(0, c.callsMade) + (closed ? QStringList{"FT_Close()"} : QStringList{}));
        EXPECT_EQ(s.driver.openHere(0), opened || closeFails);
    }
}

TEST_F(UsbLinkTest, TheChooserOffersTheFreeDevicesInDriverOrderAndDetailFailuresAreSkipped) {
    for (const char* unit : {"Unit one", "Unit two", "Unit three", "Unit four"}) {
        driver.addAdapter(unit);
    }
    driver.setOpenElsewhere(1, true);
    driver.failCall(DriverCall::GetDeviceInfoDetail, link::ft::OTHER_ERROR, 1, 3); // the fourth
    chooser.pick = 1;
    EXPECT_TRUE(configure());
    EXPECT_EQ(chooser.offered, (std::vector<QList<QByteArray>>{{"Unit one", "Unit three"}}));
    EXPECT_EQ(log.lines(), (QStringList{"Found 2 Nerra unit through USB", "Selected Unit three"}));
    EXPECT_TRUE(driver.openHere(2));
    EXPECT_EQ(link.device_serial(), "NRV0002");

    // Unit one's shorter description goes to the driver only up to its end.
    chooser.pick = 0;
    EXPECT_TRUE(configure());
    EXPECT_EQ(chooser.offered.back(), (QList<QByteArray>{"Unit one", "Unit four"}));
    EXPECT_TRUE(driver.openHere(0));
    EXPECT_EQ(std::pair(link.device_description()[8], link.device_description()[9]), std::pair('\0', ' '));
    EXPECT_EQ(link.device_serial(), "NRV0000");

    // The only free adapter is taken without asking, and known by its serial number all the same.
    driver.setOpenElsewhere(0, true);
    driver.setOpenElsewhere(2, true);
    EXPECT_TRUE(configure());
    EXPECT_EQ(link.device_serial(), "NRV0003");
}

TEST_F(UsbLinkTest, ReadCharResultCodesAndALateReplyLeftQueued) {
    ASSERT_TRUE(connect());
    driver.unit(0).delayReplies(70ms, 1);
    link.write_str("S\r");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(readChar().first, 1);
    EXPECT_GE(clock.elapsed(), 50);
    ASSERT_TRUE(runUntil([this] { return driver.unit(0).readableCount() == 3; }));
    EXPECT_EQ(readChar(), std::pair(0, '0')) << "the late reply stays queued";
    driver.readReturnsStatus(IO_ERROR); // status 4 together with a byte counts as success
    EXPECT_EQ(readChar(), std::pair(0, '1'));
    driver.failCall(DriverCall::Read, link::ft::OK); // no byte although one is queued
    EXPECT_EQ(readChar().first, 2);
    driver.failCall(DriverCall::Read, 3);
    EXPECT_EQ(readChar().first, 3);
    driver.failCall(DriverCall::GetQueueStatus, 1);
    EXPECT_EQ(readChar().first, 4);
    EXPECT_EQ(readChar().second, '\r') << "the failed reads took nothing";
}

TEST(UsbLinkWait, ByteArrivingDuringTheWaitIsTakenUpWithOrWithoutNotification) {
    for (const bool polling : {false, true}) {
        SCOPED_TRACE(polling ? "polling" : "notified");
        LinkOnSim s(polling ? std::make_unique<PollingDriver>() : std::make_unique<sim::SimulatedDriver>(),
                    {2000ms, 80ms, 1ms});
        ASSERT_TRUE(s.connect());
        s.driver.unit(0).delayReplies(20ms, 1);
        s.link.write_str("S\r");
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(s.readChar().second, '0');
        EXPECT_LT(clock.elapsed(), 500);
    }
}

TEST_F(UsbLinkTest, AFailedReconnectionPausesAndShutDownEndsAWaitingReadAndThePauseQuietly) {
    QElapsedTimer clock;
    clock.start();
    await(link.check_usb_connection()); // no adapter to reopen
    EXPECT_GE(clock.elapsed(), 80) << "the reconnect pause";

    link::UsbLink slow{driver, search, log, {5000ms, 5000ms, 1ms}};
    QTimer::singleShot(10, [&slow] { slow.shut_down(); });
    clock.restart();
    EXPECT_NE(await(slow.read_char()).code, 0);
    EXPECT_TRUE(await(slow.pause(5000ms)));
    EXPECT_LT(clock.elapsed(), 1000);
    slow.write_str("S\r");
    EXPECT_TRUE(driver.callTexts().filter("FT_Write").isEmpty());
}

// The unit's own limits, which the tests above shorten: 3 s for a reply character, 1 s before reopening
// after a failure, input read on for 0.1 s after a reply, and a 1 ms poll where the backend cannot notify.
TEST(LinkTiming, DefaultsAreTheUnits) {
    const link::LinkTiming unit;
    EXPECT_EQ((std::array{unit.replyTimeout, unit.reconnectPause, unit.receiveGrace, unit.pollInterval}),
              (std::array<std::chrono::milliseconds, 4>{3000ms, 1000ms, 100ms, 1ms}));
}

TEST(OperationQueue, OperationsRunOneAtATimeInOrderAndShutDownRefusesTheRest) {
    link::OperationQueue queue;
    QStringList trace;
    auto operation = [&](QString name, std::chrono::milliseconds hold) -> QCoro::Task<> {
        auto turn = co_await queue.acquire(name);
        trace << name + (turn ? " start" : " refused");
        if (turn) {
            link::WakeSignal never;
            co_await never.wait(hold);
            trace << name + " end";
        }
    };
    for (const auto& [name, hold] : {std::pair{"a", 30ms}, {"b", 10ms}, {"c", 100ms}, {"d", 10ms}}) {
        operation(name, hold);
    }
    runUntil([&] { return trace.contains("c start"); });
    queue.shut_down();
    operation("e", 1ms);
    runUntil([&] { return trace.contains("c end"); }, 500ms);
    EXPECT_EQ(trace, (QStringList{"a start", "a end", "b start", "b end", "c start", "d refused", "e refused",
                                  "c end"}));
}

} // namespace
} // namespace valve::testing
