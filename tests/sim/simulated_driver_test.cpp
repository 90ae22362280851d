// The simulated driver's rules for opening and closing, where the link's tests
// do not reach them. (Its faults, call log, unplugging and notification serve
// and are checked by tests/link.)
#include "sim/simulated_driver.h"

#include <gtest/gtest.h>

using namespace valve::sim;
namespace ft = valve::link::ft;

namespace {

TEST(SimulatedDriver, OpensTheFirstFreeMatchAndRefusesWhatTheLibraryRefuses) {
    SimulatedDriver driver;
    for (const char* description : {"NR Valve Unit A", "NR Valve Unit B", "NR Valve Unit A"}) {
        driver.addAdapter(description, UnitTiming::instant());
    }
    driver.setOpenElsewhere(1, true);
    valve::link::FtHandle first = 0;
    ASSERT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, first), ft::OK);
    valve::link::FtHandle second = 0;
    ASSERT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, second), ft::OK);
    EXPECT_EQ(driver.handleOf(2), second);
    valve::link::FtHandle none = 0;
    EXPECT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, none), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(driver.openEx("NR Valve Unit B", ft::OPEN_BY_DESCRIPTION, none), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(driver.openEx("NR Valve Unit", ft::OPEN_BY_DESCRIPTION, none), ft::DEVICE_NOT_FOUND);
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(driver.setBaudRate(first, 0), ft::INVALID_BAUD_RATE);
    EXPECT_EQ(driver.setDataCharacteristics(first, 9, 0, 0), ft::INVALID_PARAMETER);
    EXPECT_EQ(driver.settings(0).baudRate, 0u) << "refused values do not stick";
    EXPECT_EQ(driver.close(first), ft::OK);
    EXPECT_EQ(driver.close(first), ft::INVALID_HANDLE);
    // A handle from before an unplug stays dead after the replug.
    driver.unplug(2);
    driver.replug(2);
    EXPECT_EQ(driver.setFlowControl(second, 0, 0, 0), ft::IO_ERROR);
    EXPECT_EQ(driver.handlesHeld(), 1u);
}

} // namespace
