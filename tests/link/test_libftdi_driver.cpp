#include "link/libftdi_driver.h"
#include "link/libftdi_receive_buffer.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace valve::link {
namespace {

using namespace std::chrono_literals;
using libftdi::ReceiveBuffer;

TEST(LibftdiReceiveBuffer, KeepsArrivalOrderAcrossAppends) {
    ReceiveBuffer buffer;
    const std::uint8_t first[] = {'0', 'C'};
    const std::uint8_t second[] = {'7'};
    buffer.append(first, 2);
    buffer.append(second, 1);
    EXPECT_EQ(buffer.size(), 3u);
    std::uint8_t out[4] = {};
    EXPECT_EQ(buffer.take(out, 1), 1u);
    EXPECT_EQ(out[0], '0');
    EXPECT_EQ(buffer.take(out, 4), 2u);
    EXPECT_EQ(out[0], 'C');
    EXPECT_EQ(out[1], '7');
    EXPECT_EQ(buffer.take(out, 4), 0u);
    buffer.append(first, 2);
    buffer.clear();
    EXPECT_EQ(buffer.size(), 0u);
}

TEST(LibftdiReceiveBuffer, WaitEndsWhenBytesArriveFromTheReaderThread) {
    ReceiveBuffer buffer;
    std::thread reader([&] {
        std::this_thread::sleep_for(20ms);
        const std::uint8_t byte = 'A';
        buffer.append(&byte, 1);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(buffer.waitFor(1, 5s), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    reader.join();
}

TEST(LibftdiReceiveBuffer, WaitTimesOutOrEndsWhenTheAdapterIsLost) {
    ReceiveBuffer buffer;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(buffer.waitFor(1, 30ms), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);

    std::thread reader([&] {
        std::this_thread::sleep_for(20ms);
        buffer.markLost();
    });
    const auto lostStart = std::chrono::steady_clock::now();
    EXPECT_EQ(buffer.waitFor(1, 5s), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - lostStart, 2s);
    EXPECT_TRUE(buffer.lost());
    reader.join();
}

// These hold with or without adapters attached: handles the backend never
// handed out are refused, and nothing opens under a description nobody has.
TEST(LibftdiDriver, RefusesForeignHandlesAndUnknownDevices) {
    LibftdiDriver driver;
    std::uint32_t count = 0;
    EXPECT_EQ(driver.setFlowControl(0, ft::FLOW_NONE, 0, 0), ft::INVALID_HANDLE);
    EXPECT_EQ(driver.getQueueStatus(42, count), ft::INVALID_HANDLE);
    EXPECT_EQ(driver.close(0), ft::INVALID_HANDLE);
    char byte = 0;
    std::uint32_t moved = 7;
    EXPECT_EQ(driver.read(42, &byte, 1, moved), ft::INVALID_HANDLE);
    EXPECT_EQ(moved, 0u);

    DeviceInfoDetail detail;
    EXPECT_EQ(driver.getDeviceInfoDetail(0, detail), ft::DEVICE_NOT_FOUND) << "no list taken yet";

    FtHandle handle = 0;
    EXPECT_NE(driver.openEx("no adapter is called this", ft::OPEN_BY_DESCRIPTION, handle), ft::OK);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(driver.openEx("x", 4, handle), ft::INVALID_PARAMETER);
    EXPECT_TRUE(driver.setReceiveNotifier([] {}));
}

} // namespace
} // namespace valve::link
