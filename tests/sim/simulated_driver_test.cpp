// The simulated driver's rules for opening and settings, where the link's
// tests do not reach them. (Its fault injection, call log, unplugging and
// receive notification are used and checked by tests/link.)
#include "sim/simulated_driver.h"

#include <gtest/gtest.h>

using namespace valve::sim;
namespace ft = valve::link::ft;
using valve::link::FtHandle;

namespace {

TEST(SimulatedDriver, OpensTheFirstFreeMatchAndRefusesWhatTheLibraryRefuses) {
    SimulatedDriver driver;
    for (const char* description : {"NR Valve Unit A", "NR Valve Unit B", "NR Valve Unit A"}) {
        driver.addAdapter(description, UnitTiming::instant());
    }
    driver.setOpenElsewhere(1, true);
    FtHandle first = 0;
    FtHandle second = 0;
    FtHandle none = 0;
    ASSERT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, first), ft::OK);
    ASSERT_EQ(driver.openEx("NRV0002", 1, second), ft::OK) << "by serial number";
    EXPECT_EQ(driver.handleOf(2), second);
    valve::link::DeviceInfoDetail detail;
    std::uint32_t count = 0;
    ASSERT_EQ(driver.createDeviceInfoList(count), ft::OK);
    ASSERT_EQ(driver.getDeviceInfoDetail(0, detail), ft::OK);
    EXPECT_EQ(std::pair(detail.flags & ft::FLAGS_OPENED, detail.handle), std::pair(ft::FLAGS_OPENED, first));

    EXPECT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, none), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(driver.openEx("NR Valve Unit B", ft::OPEN_BY_DESCRIPTION, none), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(driver.openEx("NR Valve Unit", ft::OPEN_BY_DESCRIPTION, none), ft::DEVICE_NOT_FOUND);
    EXPECT_EQ(driver.openEx("NR Valve Unit A", 4, none), ft::INVALID_PARAMETER);
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(driver.setBaudRate(first, 0), ft::INVALID_BAUD_RATE);
    EXPECT_EQ(driver.setDataCharacteristics(first, 9, 0, 0), ft::INVALID_PARAMETER);
    EXPECT_EQ(driver.settings(0).baudRate, 0u) << "refused values do not stick";

    EXPECT_EQ(driver.close(first), ft::OK);
    EXPECT_EQ(driver.close(first), ft::INVALID_HANDLE);
    FtHandle again = 0;
    ASSERT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, again), ft::OK);
    EXPECT_NE(again, first) << "a new open gets a new handle";
    // A handle from before an unplug stays dead after the replug.
    driver.unplug(0);
    driver.replug(0);
    EXPECT_EQ(driver.close(again), ft::IO_ERROR);
    EXPECT_EQ(driver.close(again), ft::INVALID_HANDLE);
    EXPECT_EQ(driver.handlesHeld(), 1u);
}

} // namespace
