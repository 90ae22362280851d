// The simulated driver where the link's tests do not reach it: its rules for
// opening and settings, and its wake-ups at the wire rate. (Its fault
// injection, call log and unplugging are used and checked by tests/link.)
#include "coro_test.h"
#include "sim/simulated_driver.h"

#include <gtest/gtest.h>
#include <vector>

using namespace valve::sim;
using namespace std::chrono_literals;
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
    EXPECT_EQ(driver.setFlowControl(again, 0, 0, 0), ft::IO_ERROR);
    EXPECT_EQ(driver.close(again), ft::IO_ERROR);
    EXPECT_EQ(driver.close(again), ft::INVALID_HANDLE);
    EXPECT_EQ(driver.handlesHeld(), 1u);
}

// With real time and wire rate, the notifier fires from the event loop once
// the reply bytes are due, and not before.
TEST(SimulatedDriver, NotifiesPromptlyWhenReplyBytesArrive) {
    SimulatedDriver driver;
    driver.addAdapter("NR Valve Unit A", UnitTiming{kByteTime19200, 200us, 5ms});
    FtHandle handle = 0;
    ASSERT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, handle), ft::OK);
    // The waits below end only if every byte is announced.
    std::vector<std::uint32_t> queuedAtNotify;
    ASSERT_TRUE(driver.setReceiveNotifier([&] {
        std::uint32_t queued = 0;
        driver.getQueueStatus(handle, queued);
        queuedAtNotify.push_back(queued);
    }));

    const SimTime sent = SimClock::now();
    std::uint32_t written = 0;
    driver.write(handle, "P03\r", 4, written); // two steps: about 12.8 ms
    ASSERT_TRUE(valve::testing::runUntil([&] { return !queuedAtNotify.empty(); }, 2000ms));
    const SimTime woken = SimClock::now();
    EXPECT_EQ(queuedAtNotify.front(), 1u);
    const auto ackDue = sent + 5 * kByteTime19200 + 200us + 10ms;
    EXPECT_GE(woken, ackDue);
    EXPECT_LT(woken - ackDue, 20ms); // generous: the benchmarks measure the real latency

    driver.write(handle, "S\r", 2, written);
    EXPECT_TRUE(valve::testing::runUntil([&] { return queuedAtNotify.back() == 4; }, 2000ms));
    EXPECT_EQ(driver.wire(0).unitBytes(), "\r03\r");
}

} // namespace
