#include "coro_test.h"
#include "link/device_search.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"
#include "sim/simulated_driver.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::link::ft::IO_ERROR;
using valve::sim::DriverCall;
using valve::testing::await;

namespace {

// A backend without receive notification: the link has to poll.
class PollingDriver : public valve::sim::SimulatedDriver {
public:
    bool setReceiveNotifier(std::function<void()>) override { return false; }
};

class UsbLinkTest : public ::testing::Test {
protected:
    valve::sim::SimulatedDriver driver;
    valve::testing::PickingChooser chooser;
    valve::link::EventLog log;
    valve::link::DeviceSearch search{driver, chooser, log};
    valve::link::UsbLink link{driver, search, log, {50ms, 80ms, 1ms}};

    std::size_t addUnit(const char* description, bool openElsewhere = false) {
        const auto index = driver.addAdapter(description, valve::sim::UnitTiming::instant());
        driver.setOpenElsewhere(index, openElsewhere);
        return index;
    }
    bool configure() { return await(link.configure_usb_connection()); }
    bool connect() { return addUnit("NR Valve") == 0 && configure(); }
    valve::link::ReadResult readChar() { return await(link.read_char()); }
    // The calls from the open on, without the queue polls and reads.
    QStringList callsFromOpen() const {
        const auto calls = driver.callTexts({DriverCall::GetQueueStatus, DriverCall::Read});
        return calls.mid(calls.indexOf(QRegularExpression("FT_OpenEx.*")));
    }
};

TEST_F(UsbLinkTest, NoFreeDeviceIsReportedWithoutChooserOrOpen) {
    addUnit("Busy unit", true);
    EXPECT_FALSE(configure());
    EXPECT_EQ(log.lines(), QStringList{"Error - Could not find any Nerra Devices through USB"});
    EXPECT_TRUE(chooser.offered.empty());
    EXPECT_TRUE(driver.callTexts().filter("FT_OpenEx").isEmpty());
}

TEST_F(UsbLinkTest, OneDeviceIsOpenedAndConfiguredWithoutChooser) {
    addUnit("NR Valve");
    EXPECT_TRUE(configure());
    EXPECT_EQ(log.lines(), QStringList{"Found 1 Nerra unit through USB"});
    EXPECT_TRUE(chooser.offered.empty());
    EXPECT_EQ(callsFromOpen(),
              (QStringList{"FT_OpenEx(\"NR Valve\", 2)", "FT_SetBaudRate(19200)",
                           "FT_SetDataCharacteristics(8, 0, 0)", "FT_SetFlowControl(0, 0, 0)",
                           "FT_SetTimeouts(3000, 0)", "FT_Purge(3)"}));
    EXPECT_TRUE(driver.openHere(0));
}

TEST_F(UsbLinkTest, SeveralDevicesAskTheChooserForTheFreeOnesInDriverOrder) {
    addUnit("Unit one");
    addUnit("Unit two", true);
    addUnit("Unit three");
    chooser.pick = 1;
    EXPECT_EQ(search.FindDevices(), 2);
    EXPECT_TRUE(configure());
    EXPECT_EQ(chooser.offered, (std::vector<QList<QByteArray>>{{"Unit one", "Unit three"}}));
    EXPECT_EQ(log.lines(), (QStringList{"Found 2 Nerra unit through USB", "Selected Unit three"}));
    EXPECT_TRUE(driver.openHere(2));
}

TEST_F(UsbLinkTest, ShorterDescriptionIsHandedOverOnlyUpToItsEnd) {
    addUnit("A rather long description");
    ASSERT_TRUE(configure());
    driver.unplug(0);
    addUnit("Short");
    ASSERT_TRUE(configure());
    EXPECT_TRUE(driver.openHere(1));
    EXPECT_EQ(link.device_description()[5], '\0');
    EXPECT_EQ(link.device_description()[6], ' ');
}

TEST_F(UsbLinkTest, EachFailingSettingLogsItsLineClosesAndStops) {
    addUnit("NR Valve");
    const std::pair<DriverCall, const char*> steps[] = {
        {DriverCall::SetBaudRate, "Could not set the Baud Rate through USB"},
        {DriverCall::SetDataCharacteristics, "Could not configure USB connection"},
        {DriverCall::SetFlowControl, "Could not set flow control"},
        {DriverCall::SetTimeouts, "Could not set the time-outs of the USB connection"}};
    qsizetype settingsMade = 0; // the failing one included
    for (const auto& [call, line] : steps) {
        SCOPED_TRACE(line);
        driver.clearFaults();
        driver.failCall(call, IO_ERROR);
        driver.clearCallLog();
        log.clear();
        EXPECT_FALSE(configure());
        EXPECT_EQ(log.lines(), (QStringList{"Found 1 Nerra unit through USB", line}));
        const auto calls = callsFromOpen();
        ASSERT_EQ(calls.size(), 1 + ++settingsMade + 1);
        EXPECT_EQ(calls.last(), "FT_Close()") << "and no Purge";
        EXPECT_FALSE(driver.openHere(0));
    }
}

TEST_F(UsbLinkTest, OpenAndCloseFailuresHaveTheirOwnLinesAndPurgeFailureIsIgnored) {
    addUnit("NR Valve");
    driver.failCall(DriverCall::OpenEx, 2);
    EXPECT_FALSE(configure());
    EXPECT_EQ(log.lines().last(), "Could not open USB Device");

    driver.failCall(DriverCall::SetBaudRate, IO_ERROR);
    driver.failCall(DriverCall::Close, IO_ERROR);
    log.clear();
    EXPECT_FALSE(configure());
    EXPECT_EQ(log.lines().mid(1),
              (QStringList{"Could not set the Baud Rate through USB", "USB Close Failed"}));

    driver.unplug(0); // the handle whose close failed is still held
    addUnit("NR Valve");
    driver.failCall(DriverCall::Purge, IO_ERROR);
    log.clear();
    EXPECT_TRUE(configure());
    EXPECT_EQ(log.lines(), QStringList{"Found 1 Nerra unit through USB"});
}

TEST_F(UsbLinkTest, ReadCharResultCodes) {
    ASSERT_TRUE(connect());
    link.write_str("S\r"); // "01\r" is queued before the first read
    auto result = readChar();
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.ch, '0');

    driver.readReturnsStatus(IO_ERROR); // status 4 together with a byte counts as success
    result = readChar();
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.ch, '1');

    driver.failCall(DriverCall::Read, valve::link::ft::OK); // no byte although one is queued
    EXPECT_EQ(readChar().code, 2);
    driver.failCall(DriverCall::Read, 3);
    EXPECT_EQ(readChar().code, 3);
    driver.failCall(DriverCall::GetQueueStatus, 1);
    EXPECT_EQ(readChar().code, 4);
    EXPECT_EQ(readChar().ch, '\r') << "the failed reads took nothing";
}

TEST_F(UsbLinkTest, SilentUnitTimesOutAfterTheLimitAndLateByteStaysQueued) {
    ASSERT_TRUE(connect());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(readChar().code, 1);
    EXPECT_GE(clock.elapsed(), 50);

    driver.unit(0).delayReplies(70ms, 1);
    link.write_str("S\r");
    EXPECT_EQ(readChar().code, 1);
    valve::testing::runUntil([this] { return driver.unit(0).readableCount() > 0; });
    const auto next = readChar();
    EXPECT_EQ(next.code, 0);
    EXPECT_EQ(next.ch, '0');
}

TEST(UsbLinkWaitTest, ByteArrivingDuringTheWaitIsTakenUpWithOrWithoutNotification) {
    valve::sim::SimulatedDriver notifying;
    PollingDriver polling;
    for (valve::sim::SimulatedDriver* driver :
         {&notifying, static_cast<valve::sim::SimulatedDriver*>(&polling)}) {
        SCOPED_TRACE(driver == &polling ? "polling" : "notified");
        driver->addAdapter("NR Valve", valve::sim::UnitTiming::instant());
        valve::testing::PickingChooser chooser;
        valve::link::EventLog log;
        valve::link::DeviceSearch search{*driver, chooser, log};
        valve::link::UsbLink link{*driver, search, log, {2000ms, 80ms, 1ms}};
        ASSERT_TRUE(await(link.configure_usb_connection()));
        driver->unit(0).delayReplies(20ms, 1);
        link.write_str("S\r");
        QElapsedTimer clock;
        clock.start();
        const auto result = await(link.read_char());
        EXPECT_EQ(result.code, 0);
        EXPECT_EQ(result.ch, '0');
        EXPECT_LT(clock.elapsed(), 500);
    }
}

TEST_F(UsbLinkTest, SendCommandDiscardsStaleInputAndAFailedWriteIsLogged) {
    ASSERT_TRUE(connect());
    link.write_str("S\r"); // its reply "01\r" is never read
    link.send_command("M\r");
    EXPECT_EQ(readChar().ch, '\r');
    EXPECT_EQ(driver.wire(0).hostLines().last(), "M\r");
    EXPECT_TRUE(log.lines().mid(1).isEmpty());

    // Stale input that cannot be read away is purged instead.
    driver.unit(0).state().position = 7;
    link.write_str("S\r");
    driver.failCall(DriverCall::Read, valve::link::ft::OTHER_ERROR);
    link.send_command("S\r");
    EXPECT_EQ(readChar().ch, '0');
    EXPECT_EQ(readChar().ch, '7');
    EXPECT_EQ(readChar().ch, '\r');
    uint32_t left = 0;
    driver.getQueueStatus(link.usb_handle(), left);
    EXPECT_EQ(left, 0U);

    driver.failCall(DriverCall::Write, IO_ERROR);
    link.write_str("S\r");
    EXPECT_EQ(log.lines().last(), "USB Error - could not write to device");
}

TEST_F(UsbLinkTest, LiveProbeDoesNothingMore) {
    ASSERT_TRUE(connect());
    driver.clearCallLog();
    EXPECT_TRUE(await(link.check_usb_connection()));
    EXPECT_EQ(driver.callTexts(), QStringList{"FT_SetFlowControl(0, 0, 0)"});
    EXPECT_EQ(log.lines(), QStringList{"Found 1 Nerra unit through USB"});
}

TEST_F(UsbLinkTest, LostAdapterClearsTheLogAndPausesOrReconnects) {
    ASSERT_TRUE(connect());
    driver.unplug(0);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(await(link.check_usb_connection()));
    EXPECT_GE(clock.elapsed(), 80);
    EXPECT_EQ(log.lines(), (QStringList{"Trying to close USB Port - Failed",
                                        "Error - Could not find any Nerra Devices through USB",
                                        "Could not reestablish connection"}));

    // Plugged in again but its configuration fails: reported, and paused again.
    driver.replug(0);
    driver.failCall(DriverCall::SetFlowControl, IO_ERROR, valve::sim::kAlways);
    EXPECT_TRUE(await(link.check_usb_connection()));
    EXPECT_EQ(log.lines().mid(1), (QStringList{"Found 1 Nerra unit through USB", "Could not set flow control",
                                               "Could not reestablish connection"}));
    EXPECT_FALSE(driver.openHere(0));
}

TEST_F(UsbLinkTest, ShutDownEndsAWaitingReadAndTheReconnectPauseQuietly) {
    valve::link::UsbLink slow{driver, search, log, {5000ms, 5000ms, 1ms}};
    QTimer::singleShot(10, [&slow] { slow.shut_down(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_NE(await(slow.read_char()).code, 0);
    EXPECT_TRUE(await(slow.pause(5000ms)));
    EXPECT_LT(clock.elapsed(), 1000);
    slow.write_str("S\r");
    EXPECT_TRUE(driver.callTexts().filter("FT_Write").isEmpty());
}

TEST(OperationQueueTest, OperationsRunOneAtATimeInOrderAndShutDownRefusesTheRest) {
    valve::link::OperationQueue queue;
    QStringList trace;
    auto operation = [&](QString name, std::chrono::milliseconds hold) -> QCoro::Task<> {
        auto turn = co_await queue.acquire(name);
        if (!turn) {
            trace << name + " refused";
            co_return;
        }
        trace << name + " start";
        valve::link::WakeSignal never;
        co_await never.wait(hold);
        trace << name + " end";
    };
    operation("a", 30ms);
    operation("b", 10ms);
    operation("c", 100ms);
    operation("d", 10ms);
    valve::testing::runUntil([&] { return trace.contains("c start"); });
    queue.shut_down();
    operation("e", 1ms);
    valve::testing::runUntil([&] { return trace.contains("c end"); }, 500ms);
    EXPECT_EQ(trace, (QStringList{"a start", "a end", "b start", "b end", "c start", "d refused", "e refused",
                                  "c end"}));
}

} // namespace
