#include "coro_test.h"
#include "fake_driver.h"
#include "link/device_search.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::link::BoxAnswer;
using valve::link::ft::IO_ERROR;
using valve::testing::await;
using valve::testing::FakeDriver;

namespace {

class UsbLinkTest : public ::testing::Test {
protected:
    FakeDriver driver;
    valve::testing::PickingChooser chooser;
    valve::link::EventLog log;
    valve::link::DeviceSearch search{driver, chooser, log};
    valve::link::UsbLink link{driver, search, log, {50ms, 80ms, 1ms}};

    bool configure() { return await(link.configure_usb_connection()); }
    valve::link::ReadResult readChar() { return await(link.read_char()); }
};

TEST_F(UsbLinkTest, NoFreeDeviceIsReportedWithoutChooserOrFoundLine) {
    driver.adapters = {{"Busy unit", true}};
    EXPECT_FALSE(configure());
    EXPECT_EQ(log.lines(), QStringList{"Error - Could not find any Nerra Devices through USB"});
    EXPECT_TRUE(chooser.offered.empty());
    EXPECT_TRUE(driver.callsNamed("OpenEx").isEmpty());
}

TEST_F(UsbLinkTest, OneDeviceIsOpenedAndConfiguredWithoutChooser) {
    driver.adapters = {{"NR Valve", false}};
    EXPECT_TRUE(configure());
    EXPECT_EQ(log.lines(), QStringList{"Found 1 Nerra unit through USB"});
    EXPECT_TRUE(chooser.offered.empty());
    const QStringList expected{
        "OpenEx(NR Valve,2)",       "SetBaudRate(19200)",  "SetDataCharacteristics(8,0,0)",
        "SetFlowControl(65:0,0,0)", "SetTimeouts(3000,0)", "Purge(3)"};
    EXPECT_EQ(driver.calls.mid(driver.calls.indexOf("OpenEx(NR Valve,2)")), expected);
}

TEST_F(UsbLinkTest, SeveralDevicesAskTheChooserForTheFreeOnesInDriverOrder) {
    driver.adapters = {{"Unit one", false}, {"Unit two", true}, {"Unit three", false}};
    chooser.pick = 1;
    EXPECT_EQ(search.FindDevices(), 2);
    EXPECT_TRUE(configure());
    EXPECT_EQ(chooser.offered, (std::vector<QList<QByteArray>>{{"Unit one", "Unit three"}}));
    EXPECT_EQ(log.lines(), (QStringList{"Found 2 Nerra unit through USB", "Selected Unit three"}));
    EXPECT_EQ(driver.callsNamed("OpenEx"), QStringList{"OpenEx(Unit three,2)"});
}

TEST_F(UsbLinkTest, ShorterDescriptionIsHandedOverOnlyUpToItsEnd) {
    driver.adapters = {{"A rather long description", false}};
    ASSERT_TRUE(configure());
    driver.adapters = {{"Short", false}};
    ASSERT_TRUE(configure());
    EXPECT_EQ(driver.callsNamed("OpenEx").last(), "OpenEx(Short,2)");
    EXPECT_EQ(link.device_description()[5], '\0');
    EXPECT_EQ(link.device_description()[6], ' ');
}

struct FailingStep {
    const char* call;
    const char* line;
    int callsAfterOpen; // setting calls made, the failing one included
};

void PrintTo(const FailingStep& step, std::ostream* os) {
    *os << step.call;
}

class ConfigurationStepFails : public UsbLinkTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(ConfigurationStepFails, LogsItsLineClosesAndStops) {
    driver.adapters = {{"NR Valve", false}};
    driver.failing[GetParam().call] = IO_ERROR;
    EXPECT_FALSE(configure());
    EXPECT_EQ(log.lines(), (QStringList{"Found 1 Nerra unit through USB", GetParam().line}));
    const auto afterOpen = driver.calls.mid(driver.calls.indexOf("OpenEx(NR Valve,2)") + 1);
    ASSERT_EQ(afterOpen.size(), GetParam().callsAfterOpen + 1);
    EXPECT_TRUE(afterOpen.last().startsWith("Close("));
    EXPECT_TRUE(driver.callsNamed("Purge").isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, ConfigurationStepFails,
    ::testing::Values(FailingStep{"SetBaudRate", "Could not set the Baud Rate through USB", 1},
                      FailingStep{"SetDataCharacteristics", "Could not configure USB connection", 2},
                      FailingStep{"SetFlowControl", "Could not set flow control", 3},
                      FailingStep{"SetTimeouts", "Could not set the time-outs of the USB connection", 4}));

TEST_F(UsbLinkTest, OpenAndCloseFailuresHaveTheirOwnLinesAndPurgeFailureIsIgnored) {
    driver.adapters = {{"NR Valve", false}};
    driver.failing["OpenEx"] = 2;
    EXPECT_FALSE(configure());
    EXPECT_EQ(log.lines().last(), "Could not open USB Device");

    driver.failing = {{"SetBaudRate", IO_ERROR}, {"Close", IO_ERROR}};
    log.clear();
    EXPECT_FALSE(configure());
    EXPECT_EQ(log.lines().mid(1),
              (QStringList{"Could not set the Baud Rate through USB", "USB Close Failed"}));

    driver.failing = {{"Purge", IO_ERROR}};
    log.clear();
    EXPECT_TRUE(configure());
    EXPECT_EQ(log.lines(), QStringList{"Found 1 Nerra unit through USB"});
}

TEST_F(UsbLinkTest, ReadCharResultCodes) {
    driver.arrive("Q");
    auto result = readChar();
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.ch, 'Q');

    driver.arrive("x");
    driver.readStatus = IO_ERROR; // accepted like success
    EXPECT_EQ(readChar().code, 0);

    driver.arrive("y");
    driver.readGivesNothing = true;
    EXPECT_EQ(readChar().code, 2);

    driver.readGivesNothing = false;
    driver.readStatus = 3;
    EXPECT_EQ(readChar().code, 3);

    driver.readStatus = 0;
    driver.received.clear();
    driver.failing["GetQueueStatus"] = 1;
    EXPECT_EQ(readChar().code, 4);
}

TEST_F(UsbLinkTest, SilentUnitTimesOutAfterTheLimitAndLateByteStaysQueued) {
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(readChar().code, 1);
    EXPECT_GE(clock.elapsed(), 50);

    // A byte that turns up only after the limit is left for the next read.
    QTimer::singleShot(70, [this] { driver.received.push_back('L'); });
    EXPECT_EQ(readChar().code, 1);
    valve::testing::runUntil([this] { return !driver.received.empty(); });
    const auto next = readChar();
    EXPECT_EQ(next.code, 0);
    EXPECT_EQ(next.ch, 'L');
}

TEST_F(UsbLinkTest, ByteArrivingDuringTheWaitIsTakenUp) {
    for (const bool notifies : {true, false}) {
        driver.canNotify = notifies;
        valve::link::UsbLink polling{driver, search, log, {2000ms, 80ms, 1ms}};
        QTimer::singleShot(20, [this] { driver.arrive("K"); });
        QElapsedTimer clock;
        clock.start();
        const auto result = await(polling.read_char());
        EXPECT_EQ(result.code, 0) << "notifies " << notifies;
        EXPECT_EQ(result.ch, 'K');
        EXPECT_LT(clock.elapsed(), 500);
    }
}

TEST_F(UsbLinkTest, SendCommandDiscardsStaleInputAndAFailedWriteIsLogged) {
    driver.arrive("late reply");
    link.send_command("S\r");
    EXPECT_TRUE(driver.received.empty());
    EXPECT_EQ(driver.written, "S\r");
    EXPECT_TRUE(log.lines().isEmpty());

    driver.failing["Write"] = IO_ERROR;
    link.write_str("S\r");
    EXPECT_EQ(log.lines(), QStringList{"USB Error - could not write to device"});
}

TEST_F(UsbLinkTest, LiveProbeDoesNothingMore) {
    driver.adapters = {{"NR Valve", false}};
    ASSERT_TRUE(configure());
    driver.calls.clear();
    EXPECT_TRUE(await(link.check_usb_connection()));
    EXPECT_EQ(driver.calls.size(), 1);
    EXPECT_EQ(log.lines(), QStringList{"Found 1 Nerra unit through USB"});
}

TEST_F(UsbLinkTest, LostAdapterClearsTheLogReconnectsOrPauses) {
    log.show_msg("older line");
    driver.failing = {{"SetFlowControl", IO_ERROR}, {"Close", 1}};
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(await(link.check_usb_connection()));
    EXPECT_GE(clock.elapsed(), 80);
    EXPECT_EQ(log.lines(), (QStringList{"Trying to close USB Port - Failed",
                                        "Error - Could not find any Nerra Devices through USB",
                                        "Could not reestablish connection"}));

    // Plugged in again: the next check finds it and opens it.
    driver.adapters = {{"NR Valve", false}};
    driver.failing = {{"SetFlowControl", IO_ERROR}};
    EXPECT_TRUE(await(link.check_usb_connection()));
    // The dead probe call fails inside the configuration too, so that is reported.
    EXPECT_EQ(log.lines(), (QStringList{"Found 1 Nerra unit through USB", "Could not set flow control",
                                        "Could not reestablish connection"}));
    EXPECT_EQ(driver.callsNamed("OpenEx").size(), 1);
}

TEST_F(UsbLinkTest, ShutDownEndsAWaitingReadAndTheReconnectPauseQuietly) {
    QTimer::singleShot(10, [this] { link.shut_down(); });
    QElapsedTimer clock;
    clock.start();
    valve::link::UsbLink slow{driver, search, log, {5000ms, 5000ms, 1ms}};
    QTimer::singleShot(10, [&slow] { slow.shut_down(); });
    EXPECT_NE(await(slow.read_char()).code, 0);
    EXPECT_TRUE(await(slow.pause(5000ms)));
    EXPECT_LT(clock.elapsed(), 1000);
    slow.write_str("S\r");
    EXPECT_TRUE(driver.written.isEmpty());
}

TEST(OperationQueueTest, OperationsRunOneAtATimeInOrderAndShutDownRefusesTheRest) {
    valve::link::OperationQueue queue;
    QStringList trace;
    auto operation = [&](QString name, std::chrono::milliseconds hold) -> QCoro::Task<> {
        auto turn = co_await queue.acquire();
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
