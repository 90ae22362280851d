// The link and the device search against the simulated unit when adapters
// come and go (the calls themselves are checked in test_usb_link.cpp).
#include "coro_test.h"
#include "link/device_search.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"
#include "sim/simulated_driver.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::testing::await;

namespace {

class LinkOnSimTest : public ::testing::Test {
protected:
    valve::sim::SimulatedDriver driver;
    valve::testing::PickingChooser chooser;
    valve::link::EventLog log;
    valve::link::DeviceSearch search{driver, chooser, log};
    valve::link::UsbLink link{driver, search, log, {100ms, 50ms, 1ms}};

    std::size_t addUnit(const char* description) {
        return driver.addAdapter(description, valve::sim::UnitTiming::instant());
    }
    bool configure() { return await(link.configure_usb_connection()); }
};

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
    EXPECT_EQ(log.lines(),
              (QStringList{"Trying to close USB Port - Failed", "Found 1 Nerra unit through USB"}));
    link.send_command("S\r");
    EXPECT_EQ(await(link.read_char()).code, 0);
    EXPECT_EQ(driver.wire(unit).hostLines().last(), "S\r");
}

TEST_F(LinkOnSimTest, StartWithoutUnitThenPluggedInConnectsOnTheFirstCheck) {
    EXPECT_FALSE(configure());
    const auto unit = addUnit("NR Valve");
    EXPECT_TRUE(await(link.check_usb_connection()));
    // Handle 0 is rejected by the driver, so the failed close leads the log.
    EXPECT_EQ(log.lines(),
              (QStringList{"Trying to close USB Port - Failed", "Found 1 Nerra unit through USB"}));
    EXPECT_TRUE(driver.openHere(unit));
}

} // namespace
