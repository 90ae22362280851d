#include "d2xx_double/double_control.h"
#include "link/d2xx_driver.h"

#include <QStringList>
#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace valve::link {
namespace {

using namespace std::chrono_literals;
using valve::testing::DoubleControl;

bool waitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class D2xxDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(driver, nullptr);
        control.addDevice("Valve A");
    }
    FtHandle openValve() {
        FtHandle handle = 0;
        EXPECT_EQ(driver->openEx("Valve A", ft::OPEN_BY_DESCRIPTION, handle), ft::OK);
        return handle;
    }

    DoubleControl control{D2XX_DOUBLE_PATH};
    std::unique_ptr<D2xxDriver> driver = D2xxDriver::load(D2XX_DOUBLE_PATH);
};

TEST(D2xxDriverLoad, MissingLibraryOrOperationGivesNoDriverAndEventsAreOptional) {
    EXPECT_EQ(D2xxDriver::load("/nonexistent/libftd2xx.so"), nullptr);
    EXPECT_EQ(D2xxDriver::load(D2XX_DOUBLE_INCOMPLETE_PATH), nullptr); // lacks FT_Purge
    const auto noEvents = D2xxDriver::load(D2XX_DOUBLE_NOEVENTS_PATH);
    ASSERT_NE(noEvents, nullptr);
    EXPECT_FALSE(noEvents->setReceiveNotifier([] {}));
}

TEST_F(D2xxDriverTest, ListsDevicesWithFlagsAndTerminatedTexts) {
    control.addDevice("An adapter with a description longer than the sixty-four bytes D2XX fills", "FT002",
                      ft::FLAGS_OPENED);
    std::uint32_t count = 0;
    ASSERT_EQ(driver->createDeviceInfoList(count), ft::OK);
    ASSERT_EQ(count, 2u);

    DeviceInfoDetail first;
    first.description.fill('x');
    ASSERT_EQ(driver->getDeviceInfoDetail(0, first), ft::OK);
    EXPECT_STREQ(first.description.data(), "Valve A");
    EXPECT_STREQ(first.serialNumber.data(), "FT001");
    EXPECT_EQ(first.flags & ft::FLAGS_OPENED, 0u);
    EXPECT_EQ(first.handle, 0u);

    DeviceInfoDetail second;
    second.description.fill('x');
    ASSERT_EQ(driver->getDeviceInfoDetail(1, second), ft::OK);
    EXPECT_EQ(second.flags & ft::FLAGS_OPENED, ft::FLAGS_OPENED);
    EXPECT_EQ(std::string(second.description.data()).size(), 64u)
        << "unterminated text must stop at the buffer end";
    EXPECT_EQ(driver->getDeviceInfoDetail(2, second), ft::DEVICE_NOT_FOUND);
}

TEST_F(D2xxDriverTest, OpenSetsLatencyTimerAndHandleRoundTripsUntilClose) {
    const FtHandle handle = openValve();
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(control.log(), "FT_OpenEx(Valve A,2)\nFT_SetLatencyTimer(2)\n");

    // The double refuses any handle but its own pointer.
    EXPECT_EQ(driver->setBaudRate(handle, 19200), ft::OK);
    std::uint32_t count = 0;
    ASSERT_EQ(driver->createDeviceInfoList(count), ft::OK);
    DeviceInfoDetail detail;
    ASSERT_EQ(driver->getDeviceInfoDetail(0, detail), ft::OK);
    EXPECT_EQ(detail.handle, handle);
    EXPECT_EQ(detail.flags & ft::FLAGS_OPENED, ft::FLAGS_OPENED);

    EXPECT_EQ(driver->close(handle), ft::OK);
    // A closed handle never reaches the library again.
    const std::string closed = control.log();
    EXPECT_EQ(driver->setFlowControl(handle, ft::FLOW_NONE, 0, 0), ft::INVALID_HANDLE);
    EXPECT_EQ(driver->close(handle), ft::INVALID_HANDLE);
    EXPECT_EQ(control.log(), closed);
}

TEST_F(D2xxDriverTest, LatencyTimerFailureIsToldButDoesNotFailOpenAndOpenFailureSkipsIt) {
    QStringList told;
    driver->setDiagnosticSink([&](const QString& line) { told << line; });
    control.setStatus("FT_SetLatencyTimer", ft::IO_ERROR);
    EXPECT_NE(openValve(), 0u);
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].contains("latency timer of the USB adapter \"Valve A\" could not be set to 2 ms"));

    control.reset();
    control.setStatus("FT_OpenEx", ft::DEVICE_NOT_OPENED);
    FtHandle untouched = 0;
    EXPECT_EQ(driver->openEx("Valve A", ft::OPEN_BY_DESCRIPTION, untouched), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(untouched, 0u);
    EXPECT_EQ(control.log(), "FT_OpenEx(Valve A,2)\n");
}

// Each call reaches the library with its arguments and hands back whatever
// status the library gives, unchanged.
TEST_F(D2xxDriverTest, CallsPassArgumentsAndStatusesThrough) {
    const FtHandle h = openValve();
    std::uint32_t number = 0;
    DeviceInfoDetail detail;
    char byte = 0;
    const struct {
        const char* name;
        const char* logged; // empty: the call is not logged
        std::function<FtStatus()> call;
    } calls[] = {
        {"FT_CreateDeviceInfoList", "()", [&] { return driver->createDeviceInfoList(number); }},
        {"FT_GetDeviceInfoDetail", "(0)", [&] { return driver->getDeviceInfoDetail(0, detail); }},
        {"FT_SetBaudRate", "(19200)", [&] { return driver->setBaudRate(h, 19200); }},
        {"FT_SetDataCharacteristics", "(7,2,1)", [&] { return driver->setDataCharacteristics(h, 7, 2, 1); }},
        {"FT_SetFlowControl", "(256,17,19)", [&] { return driver->setFlowControl(h, 0x100, 0x11, 0x13); }},
        {"FT_SetTimeouts", "(3000,5)", [&] { return driver->setTimeouts(h, 3000, 5); }},
        {"FT_Purge", "(3)", [&] { return driver->purge(h, ft::PURGE_RX | ft::PURGE_TX); }},
        {"FT_GetQueueStatus", "", [&] { return driver->getQueueStatus(h, number); }},
        {"FT_Read", "(1)", [&] { return driver->read(h, &byte, 1, number); }},
        {"FT_Write", "(S\r)", [&] { return driver->write(h, "S\r", 2, number); }},
    };
    for (const auto& entry : calls) {
        SCOPED_TRACE(entry.name);
        const std::size_t before = control.log().size();
        EXPECT_EQ(entry.call(), ft::OK);
        EXPECT_EQ(control.log().substr(before),
                  *entry.logged ? std::string(entry.name) + entry.logged + "\n" : std::string());
        for (const FtStatus status : {ft::IO_ERROR, ft::INVALID_HANDLE, ft::OTHER_ERROR, FtStatus{4711}}) {
            control.setStatus(entry.name, status);
            EXPECT_EQ(entry.call(), status);
        }
    }
}

TEST_F(D2xxDriverTest, ReadsQueuedBytesOneAtATimeAndPurgeEmptiesTheQueue) {
    const FtHandle handle = openValve();
    control.push("0C7");
    std::uint32_t queued = 0;
    ASSERT_EQ(driver->getQueueStatus(handle, queued), ft::OK);
    EXPECT_EQ(queued, 3u);
    char byte = 0;
    std::uint32_t got = 0;
    ASSERT_EQ(driver->read(handle, &byte, 1, got), ft::OK);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(byte, '0');
    ASSERT_EQ(driver->getQueueStatus(handle, queued), ft::OK);
    EXPECT_EQ(queued, 2u);

    std::uint32_t sent = 0;
    ASSERT_EQ(driver->write(handle, "S\r", 2, sent), ft::OK);
    EXPECT_EQ(sent, 2u);
    ASSERT_EQ(driver->purge(handle, ft::PURGE_RX), ft::OK);
    ASSERT_EQ(driver->getQueueStatus(handle, queued), ft::OK);
    EXPECT_EQ(queued, 0u);
}

// The waiter passes each signal on with the event's mutex held (so none can
// fall between two waits), calls nothing in the library itself, and at close
// switches notification off before the handle goes and the event after it.
TEST_F(D2xxDriverTest, ReceiveNotifierFiresOnArrivalUntilCloseWhenSetBeforeOrAfterOpen) {
    for (const bool beforeOpen : {true, false}) {
        SCOPED_TRACE(beforeOpen ? "set before open" : "set after open");
        std::atomic<int> calls{0};
        std::atomic<bool> heldWhileNotifying{true};
        const auto notifier = [&] {
            heldWhileNotifying = heldWhileNotifying && control.eventLocked();
            ++calls;
        };
        ASSERT_TRUE(!beforeOpen || driver->setReceiveNotifier(notifier));
        const FtHandle handle = openValve();
        ASSERT_TRUE(beforeOpen || driver->setReceiveNotifier(notifier));
        ASSERT_TRUE(control.eventRegistered());

        control.push("A");
        control.push("B");
        EXPECT_TRUE(waitFor([&] { return calls >= 2; }));
        EXPECT_TRUE(heldWhileNotifying);
        EXPECT_EQ(control.calls("FT_GetQueueStatus"), 0);

        ASSERT_EQ(driver->close(handle), ft::OK);
        EXPECT_TRUE(control.log().ends_with("FT_SetEventNotification(0)\nFT_Close()\n"));
        const int afterClose = calls;
        control.push("C");
        std::this_thread::sleep_for(60ms);
        EXPECT_EQ(calls, afterClose);
        driver->setReceiveNotifier([] {});
        control.reset();
        control.addDevice("Valve A");
    }
}

TEST_F(D2xxDriverTest, RefusedEventRegistrationFallsBackToCheckingTheQueue) {
    control.setStatus("FT_SetEventNotification", ft::IO_ERROR);
    std::atomic<int> calls{0};
    ASSERT_TRUE(driver->setReceiveNotifier([&] { ++calls; }));
    const FtHandle handle = openValve();
    control.push("A");
    EXPECT_TRUE(waitFor([&] { return calls > 0; }));
    EXPECT_GT(control.calls("FT_GetQueueStatus"), 0);
    EXPECT_EQ(driver->close(handle), ft::OK);
}

} // namespace
} // namespace valve::link
