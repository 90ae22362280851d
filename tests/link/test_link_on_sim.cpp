// The link and the device search against the simulated unit: what goes over
// the wire and to the driver when adapters come, go and misbehave.
#include "coro_test.h"
#include "link/device_search.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "sim/simulated_driver.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::sim::DriverCall;
using valve::testing::await;

namespace {

class FirstOrPicked : public valve::link::DeviceChooser {
public:
    int pick = 0;
    QList<QByteArray> shown;
    QCoro::Task<QByteArray> choose(QList<QByteArray> descriptions) override {
        shown = descriptions;
        co_return descriptions.value(pick);
    }
};

class LinkOnSimTest : public ::testing::Test {
protected:
    valve::sim::SimulatedDriver driver;
    FirstOrPicked chooser;
    valve::link::EventLog log;
    valve::link::DeviceSearch search{driver, chooser, log};
    valve::link::UsbLink link{driver, search, log, {100ms, 50ms, 1ms}};

    std::size_t addUnit(const char* description) {
        return driver.addAdapter(description, valve::sim::UnitTiming::instant());
    }
    bool configure() { return await(link.configure_usb_connection()); }
};

TEST_F(LinkOnSimTest, ThreeAdaptersWithTheSecondInUseOfferTheOtherTwoInOrder) {
    addUnit("Unit one");
    driver.setOpenElsewhere(addUnit("Unit two"), true);
    const auto third = addUnit("Unit three");
    chooser.pick = 1;
    ASSERT_TRUE(configure());
    EXPECT_EQ(chooser.shown, (QList<QByteArray>{"Unit one", "Unit three"}));
    EXPECT_TRUE(driver.openHere(third));
    EXPECT_EQ(log.lines(), (QStringList{"Found 2 Nerra unit through USB", "Selected Unit three"}));
    const auto& settings = driver.settings(third);
    EXPECT_EQ(settings.baudRate, 19200U);
    EXPECT_EQ(settings.wordLength, 8);
    EXPECT_EQ(settings.readTimeoutMs, 3000U);
    EXPECT_EQ(settings.lastPurgeMask, 3U);

    // The adapter this program holds is flagged open and is not offered again.
    EXPECT_EQ(search.FindDevices(), 1);
    EXPECT_EQ(search.device_list().first(1), QList<QByteArray>{"Unit one"});
}

TEST_F(LinkOnSimTest, FailedBaudRateClosesTheHandleAndTriesNothingMore) {
    const auto unit = addUnit("NR Valve");
    driver.failCall(DriverCall::SetBaudRate, valve::link::ft::IO_ERROR);
    EXPECT_FALSE(configure());
    EXPECT_EQ(log.lines().last(), "Could not set the Baud Rate through USB");
    EXPECT_EQ(driver.handlesHeld(), 0U);
    EXPECT_EQ(driver.settings(unit).purges, 0);
    EXPECT_EQ(driver.settings(unit).wordLength, 0);
}

TEST_F(LinkOnSimTest, RepliesAreReadOneCharacterAtATimeWithStatusFourAccepted) {
    addUnit("NR Valve");
    ASSERT_TRUE(configure());
    link.send_command("S\r");
    driver.readReturnsStatus(valve::link::ft::IO_ERROR);
    QByteArray reply;
    for (int i = 0; i < 3; ++i) {
        const auto result = await(link.read_char());
        ASSERT_EQ(result.code, 0);
        reply += result.ch;
    }
    EXPECT_EQ(reply, "01\r");
    EXPECT_EQ(driver.callTexts({DriverCall::GetQueueStatus}).filter("FT_Read").size(), 3);
}

TEST_F(LinkOnSimTest, UnpluggedAdapterIsReconnectedByTheNextCheck) {
    const auto unit = addUnit("NR Valve");
    ASSERT_TRUE(configure());
    driver.unplug(unit);
    EXPECT_TRUE(await(link.check_usb_connection()));
    EXPECT_EQ(log.lines(), (QStringList{"Trying to close USB Port - Failed",
                                        "Error - Could not find any Nerra Devices through USB",
                                        "Could not reestablish connection"}));
    // A command sent on the dead handle fails at its write and its read.
    link.send_command("S\r");
    EXPECT_EQ(log.lines().last(), "USB Error - could not write to device");
    EXPECT_NE(await(link.read_char()).code, 0);

    driver.replug(unit);
    EXPECT_TRUE(await(link.check_usb_connection()));
    // The handle from before the unplug stays dead, so its close fails again.
    EXPECT_EQ(log.lines(), (QStringList{"Trying to close USB Port - Failed", "Found 1 Nerra unit through USB"}));
    link.send_command("S\r");
    EXPECT_EQ(await(link.read_char()).code, 0);
    EXPECT_EQ(driver.wire(unit).hostLines().last(), "S\r");
}

TEST_F(LinkOnSimTest, StartWithoutUnitThenPluggedInConnectsOnTheFirstCheck) {
    EXPECT_FALSE(configure());
    const auto unit = addUnit("NR Valve");
    EXPECT_TRUE(await(link.check_usb_connection()));
    // Handle 0 is rejected by the driver, so the failed close leads the log.
    EXPECT_EQ(log.lines(), (QStringList{"Trying to close USB Port - Failed", "Found 1 Nerra unit through USB"}));
    EXPECT_TRUE(driver.openHere(unit));
}

TEST_F(LinkOnSimTest, LateReplyIsDiscardedBeforeTheNextCommand) {
    const auto unit = driver.addAdapter("NR Valve");
    ASSERT_TRUE(configure());
    driver.unit(unit).delayReplies(150ms, 1);
    link.send_command("S\r");
    EXPECT_EQ(await(link.read_char()).code, 1); // gave up after 100 ms
    valve::testing::runUntil([&] { return driver.wire(unit).unitBytes().size() == 3; });

    driver.unit(unit).state().position = 7;
    link.send_command("S\r");
    QByteArray reply;
    for (int i = 0; i < 3; ++i) {
        reply += await(link.read_char()).ch;
    }
    EXPECT_EQ(reply, "07\r");
}

} // namespace
