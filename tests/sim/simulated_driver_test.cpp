#include "coro_test.h"
#include "sim/simulated_driver.h"

#include <gtest/gtest.h>
#include <vector>

using namespace valve::sim;
using namespace std::chrono_literals;
namespace ft = valve::link::ft;
using valve::link::DeviceInfoDetail;
using valve::link::FtHandle;

namespace {

class SimulatedDriverTest : public ::testing::Test {
protected:
    SimulatedDriverTest() {
        driver.addAdapter("NR Valve Unit A", UnitTiming::instant());
        driver.addAdapter("NR Valve Unit B", UnitTiming::instant());
        driver.addAdapter("NR Valve Unit C", UnitTiming::instant());
        driver.setOpenElsewhere(1, true);
    }

    FtHandle open(const char* description) {
        FtHandle handle = 0;
        EXPECT_EQ(driver.openEx(description, ft::OPEN_BY_DESCRIPTION, handle), ft::OK);
        return handle;
    }

    QByteArray exchange(FtHandle handle, QByteArray line, std::uint32_t replyLength) {
        std::uint32_t count = 0;
        EXPECT_EQ(driver.write(handle, line.constData(), static_cast<std::uint32_t>(line.size()), count),
                  ft::OK);
        QByteArray reply(replyLength, '\0');
        std::uint32_t read = 0;
        EXPECT_EQ(driver.read(handle, reply.data(), replyLength, read), ft::OK);
        return reply.first(read);
    }

    SimulatedDriver driver;
};

} // namespace

TEST_F(SimulatedDriverTest, DeviceListAndOpenByDescription) {
    std::uint32_t count = 0;
    ASSERT_EQ(driver.createDeviceInfoList(count), ft::OK);
    ASSERT_EQ(count, 3u);
    DeviceInfoDetail detail;
    ASSERT_EQ(driver.getDeviceInfoDetail(1, detail), ft::OK);
    EXPECT_STREQ(detail.description.data(), "NR Valve Unit B");
    EXPECT_EQ(detail.flags & ft::FLAGS_OPENED, ft::FLAGS_OPENED);
    EXPECT_EQ(driver.getDeviceInfoDetail(3, detail), ft::DEVICE_NOT_FOUND);

    // The first free match is taken; a handle of this program shows in the list.
    driver.addAdapter("NR Valve Unit A", UnitTiming::instant());
    const FtHandle first = open("NR Valve Unit A");
    const FtHandle second = open("NR Valve Unit A");
    EXPECT_NE(first, second);
    EXPECT_EQ(driver.handleOf(3), second);
    ASSERT_EQ(driver.getDeviceInfoDetail(0, detail), ft::OK);
    EXPECT_EQ(detail.handle, first);

    FtHandle handle = 0;
    EXPECT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, handle), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(driver.openEx("NR Valve Unit B", ft::OPEN_BY_DESCRIPTION, handle), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(driver.openEx("NR Valve Unit", ft::OPEN_BY_DESCRIPTION, handle), ft::DEVICE_NOT_FOUND);
    EXPECT_EQ(driver.openEx("NR Valve Unit C", 4, handle), ft::INVALID_PARAMETER);
    EXPECT_EQ(handle, 0u);

    EXPECT_EQ(driver.close(first), ft::OK);
    EXPECT_EQ(driver.setFlowControl(first, 0, 0, 0), ft::INVALID_HANDLE);
    EXPECT_EQ(driver.close(first), ft::INVALID_HANDLE);
    EXPECT_NE(open("NR Valve Unit A"), first); // a new open gets a new token
}

TEST_F(SimulatedDriverTest, RecordsSettingsAndLogsCalls) {
    const FtHandle handle = open("NR Valve Unit A");
    EXPECT_EQ(driver.setBaudRate(handle, 19200), ft::OK);
    EXPECT_EQ(driver.setTimeouts(handle, 3000, 0), ft::OK);
    EXPECT_EQ(driver.purge(handle, ft::PURGE_RX | ft::PURGE_TX), ft::OK);
    EXPECT_EQ(driver.setBaudRate(handle, 0), ft::INVALID_BAUD_RATE);
    EXPECT_EQ(driver.setDataCharacteristics(handle, 9, 0, 0), ft::INVALID_PARAMETER);
    EXPECT_EQ(driver.settings(0).baudRate, 19200u); // the refused values did not stick

    EXPECT_EQ(exchange(handle, "P0A\r", 1), "\r");
    EXPECT_EQ(driver.callTexts({DriverCall::GetQueueStatus}),
              (QStringList{"FT_OpenEx(\"NR Valve Unit A\", 2)", "FT_SetBaudRate(19200)",
                           "FT_SetTimeouts(3000, 0)", "FT_Purge(3)", "FT_SetBaudRate(0)",
                           "FT_SetDataCharacteristics(9, 0, 0)", "FT_Write(\"P0A\\r\")", "FT_Read(1)"}));
    EXPECT_EQ(driver.callLog().at(4).status, ft::INVALID_BAUD_RATE);
}

TEST_F(SimulatedDriverTest, InjectedStatusesOnceAlwaysAndAfterCalls) {
    const FtHandle handle = open("NR Valve Unit A");
    driver.failCall(DriverCall::SetBaudRate, ft::IO_ERROR);
    EXPECT_EQ(driver.setBaudRate(handle, 19200), ft::IO_ERROR);
    EXPECT_EQ(driver.settings(0).baudRate, 0u); // nothing was set
    EXPECT_EQ(driver.setBaudRate(handle, 19200), ft::OK);

    driver.failCall(DriverCall::GetDeviceInfoDetail, ft::OTHER_ERROR, 1, 1); // the second call fails
    DeviceInfoDetail detail;
    std::uint32_t count = 0;
    driver.createDeviceInfoList(count);
    EXPECT_EQ(driver.getDeviceInfoDetail(0, detail), ft::OK);
    EXPECT_EQ(driver.getDeviceInfoDetail(1, detail), ft::OTHER_ERROR);
    EXPECT_EQ(driver.getDeviceInfoDetail(2, detail), ft::OK);

    driver.failCall(DriverCall::Write, ft::FAILED_TO_WRITE_DEVICE, kAlways);
    std::uint32_t written = 7;
    EXPECT_EQ(driver.write(handle, "S\r", 2, written), ft::FAILED_TO_WRITE_DEVICE);
    EXPECT_EQ(driver.write(handle, "S\r", 2, written), ft::FAILED_TO_WRITE_DEVICE);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(driver.wire(0).hostBytes().isEmpty());
    driver.clearFaults();
    EXPECT_EQ(driver.write(handle, "S\r", 2, written), ft::OK);
}

TEST_F(SimulatedDriverTest, ReadFaultsWithAndWithoutByte) {
    const FtHandle handle = open("NR Valve Unit A");
    std::uint32_t written = 0;
    driver.write(handle, "S\r", 2, written);
    char byte = '\0';
    std::uint32_t read = 9;
    driver.failCall(DriverCall::Read, ft::OK); // status 0 and no byte
    EXPECT_EQ(driver.read(handle, &byte, 1, read), ft::OK);
    EXPECT_EQ(read, 0u);
    driver.readReturnsStatus(ft::IO_ERROR); // status 4 together with the byte
    EXPECT_EQ(driver.read(handle, &byte, 1, read), ft::IO_ERROR);
    EXPECT_EQ(read, 1u);
    EXPECT_EQ(byte, '0');
    EXPECT_EQ(driver.read(handle, &byte, 1, read), ft::OK);
    EXPECT_EQ(byte, '1');
}

TEST_F(SimulatedDriverTest, UnplugKillsHandlesAndReplugNeedsANewOpen) {
    const FtHandle handle = open("NR Valve Unit A");
    driver.unplug(0);
    std::uint32_t value = 0;
    EXPECT_EQ(driver.setFlowControl(handle, 0, 0, 0), ft::IO_ERROR);
    EXPECT_EQ(driver.getQueueStatus(handle, value), ft::IO_ERROR);
    EXPECT_EQ(driver.write(handle, "S\r", 2, value), ft::IO_ERROR);
    ASSERT_EQ(driver.createDeviceInfoList(value), ft::OK);
    EXPECT_EQ(value, 2u);
    FtHandle other = 0;
    EXPECT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, other), ft::DEVICE_NOT_FOUND);

    driver.replug(0);
    EXPECT_EQ(driver.setFlowControl(handle, 0, 0, 0), ft::IO_ERROR); // the old handle stays dead
    const FtHandle fresh = open("NR Valve Unit A");
    EXPECT_EQ(exchange(fresh, "S\r", 3), "01\r");
    EXPECT_EQ(driver.close(handle), ft::IO_ERROR);
    EXPECT_EQ(driver.close(handle), ft::INVALID_HANDLE);
    EXPECT_EQ(driver.handlesHeld(), 1u);
}

// With real time and wire rate, the notifier fires from the event loop once
// the reply bytes are due, and not before.
TEST(SimulatedDriverWakeUp, NotifiesPromptlyWhenReplyBytesArrive) {
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
