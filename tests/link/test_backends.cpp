// The D2XX backend on the stand-in library, loaded by path like FTDI's, and how many adapters a
// search looks at, whatever count the driver reports.
#include "coro_test.h"
#include "d2xx_double/double_control.h"
#include "link/backends/d2xx_driver.h"
#include "link/backends/fallback_driver.h"
#include "link/backends/libftdi_driver.h"
#include "link/backends/libftdi_support.h"
#include "link/device_search.h"
#include "prompt_doubles.h"
#include "record/event_log.h"
#include "sim/simulated_driver.h"

#include <QStringList>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace valve::link {
namespace {

using namespace std::chrono_literals;

class D2xxDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(driver, nullptr);
        freshDouble();
        driver->setDiagnosticSink([this](const QString& line) { told << line; });
    }
    void freshDouble() const {
        control.reset();
        control.addDevice("Valve A");
    }
    FtHandle openValve() {
        FtHandle handle = 0;
        EXPECT_EQ(driver->openEx("Valve A", ft::OPEN_BY_DESCRIPTION, handle), ft::OK);
        return handle;
    }

    testing::DoubleControl control{D2XX_DOUBLE_PATH};
    std::unique_ptr<D2xxDriver> driver = D2xxDriver::load(D2XX_DOUBLE_PATH);
    QStringList told; // the driver's diagnostic lines
};

TEST(D2xxDriverLoad, MissingLibraryOrOperationGivesNoDriverAndEventsAreOptional) {
    EXPECT_EQ(D2xxDriver::load("/nonexistent/libftd2xx.so"), nullptr);
    EXPECT_EQ(D2xxDriver::load(D2XX_DOUBLE_INCOMPLETE_PATH), nullptr); // lacks FT_Purge
    const auto noEvents = D2xxDriver::load(D2XX_DOUBLE_NOEVENTS_PATH);
    ASSERT_NE(noEvents, nullptr);
    EXPECT_FALSE(noEvents->setReceiveNotifier([] {}));
}

TEST_F(D2xxDriverTest, ListsTerminatedTextsOpensWithLatencyTimerAndForgetsClosedHandles) {
    control.addDevice("An adapter with a description longer than the sixty-four bytes D2XX fills", "FT002",
                      ft::FLAGS_OPENED);
    std::uint32_t devices = 0;
    ASSERT_EQ(driver->createDeviceInfoList(devices), ft::OK);
    DeviceInfoDetail detail;
    detail.description.fill('x');
    ASSERT_EQ(driver->getDeviceInfoDetail(1, detail), ft::OK);
    EXPECT_EQ(std::string(detail.description.data()).size(), 64u) << "ends where the library's text ends";

    const FtHandle handle = openValve();
    EXPECT_TRUE(
        control.log().ends_with("FT_OpenEx(Valve A,2)\nFT_SetLatencyTimer(1)\nFT_SetChars(13,1,0,0)\n"));
    ASSERT_EQ(driver->getDeviceInfoDetail(0, detail), ft::OK);
    EXPECT_EQ(std::tuple(std::string(detail.description.data()), std::string(detail.serialNumber.data()),
                         detail.flags & ft::FLAGS_OPENED, detail.handle),
              std::tuple("Valve A", "FT001", ft::FLAGS_OPENED, handle));

    EXPECT_EQ(driver->close(handle), ft::OK);
    const std::string closed = control.log();
    EXPECT_EQ(driver->setFlowControl(handle, ft::FLOW_NONE, 0, 0), ft::INVALID_HANDLE);
    EXPECT_EQ(driver->close(handle), ft::INVALID_HANDLE);
    EXPECT_EQ(control.log(), closed) << "a closed handle never reaches the library";
}

TEST_F(D2xxDriverTest, AChipSettingThatFailsIsToldOnceButDoesNotFailOpenAndOpenFailureSkipsBoth) {
    const std::pair<const char*, QString> cases[] = {
        // Neither 1 nor 2 ms taken: the chip keeps its 16 ms.
        {"FT_SetLatencyTimer", libftdi::latencyTimerDiagnostic("Valve A", 1)},
        {"FT_SetChars", libftdi::eventCharacterDiagnostic("Valve A", 1)},
    };
    for (const auto& [call, line] : cases) {
        freshDouble();
        control.setStatus(call, ft::IO_ERROR);
        EXPECT_NE(openValve(), 0u);
        EXPECT_EQ(std::exchange(told, {}), QStringList{line}) << call;
    }

    control.reset();
    control.setStatus("FT_OpenEx", ft::DEVICE_NOT_OPENED);
    FtHandle untouched = 0;
    EXPECT_EQ(driver->openEx("Valve A", ft::OPEN_BY_DESCRIPTION, untouched), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(untouched, 0u);
    EXPECT_EQ(std::pair(control.log(), told),
              std::pair(std::string("FT_OpenEx(Valve A,2)\n"), QStringList{}));
}

// The waiter notifies with the event's mutex held and switches notification off
// before the close; when the library refuses the event, it polls the queue.
TEST_F(D2xxDriverTest, ReceiveNotifierFiresOnArrivalUntilCloseWhenSetBeforeOrAfterOpenOrRefused) {
    for (const auto& [name, setAfterOpen, refused] : {std::tuple{"set before open", false, false},
                                                      {"set after open", true, false},
                                                      {"refused", false, true}}) {
        SCOPED_TRACE(name);
        freshDouble();
        if (refused) {
            control.setStatus("FT_SetEventNotification", ft::IO_ERROR);
        }
        std::atomic<int> calls{0};
        std::atomic<bool> heldWhileNotifying{true};
        const auto notifier = [&] {
            heldWhileNotifying = heldWhileNotifying && (refused || control.event() == 2);
            ++calls;
        };
        ASSERT_TRUE(setAfterOpen || driver->setReceiveNotifier(notifier));
        const FtHandle handle = openValve();
        ASSERT_TRUE(!setAfterOpen || driver->setReceiveNotifier(notifier));
        EXPECT_EQ(control.event() != 0, !refused);

        std::this_thread::sleep_for(20ms); // lets the waiter reach its wait (or else its safety net wakes it)
        for (const char* bytes : {"A", "B"}) { // each arrival wakes it again
            const int before = calls;
            control.push(bytes);
            EXPECT_TRUE(testing::runUntil([&] { return calls > before; }, 3s));
        }
        EXPECT_TRUE(heldWhileNotifying);
        EXPECT_EQ(control.log().find("FT_GetQueueStatus") != std::string::npos, refused);
        char bytes[2] = {};
        std::uint32_t got = 0;
        EXPECT_EQ(driver->read(handle, bytes, 2, got), ft::OK);
        EXPECT_EQ(std::string(bytes, got), "AB");

        ASSERT_EQ(driver->close(handle), ft::OK);
        EXPECT_TRUE(refused || control.log().ends_with("FT_SetEventNotification(0)\nFT_Close()\n"));
        const int afterClose = calls;
        control.push("C");
        std::this_thread::sleep_for(60ms);
        EXPECT_EQ(calls, afterClose);
        driver->setReceiveNotifier([] {});
    }
}

// A driver that reports `attached` adapters, each of them free and named "u".
struct ReportedAdapters : sim::SimulatedDriver {
    explicit ReportedAdapters(std::uint32_t count) : attached(count) {}
    FtStatus createDeviceInfoList(std::uint32_t& count) override {
        count = attached;
        return ft::OK;
    }
    FtStatus getDeviceInfoDetail(std::uint32_t, DeviceInfoDetail& d) override {
        d.description[0] = 'u';
        return ft::OK;
    }
    std::uint32_t attached;
};

// The search counts in a signed 16-bit number; the combined backend lists at most 1024 of D2XX's.
TEST(AdapterCounts, ASearchLooksAtNoMoreThanItCanCount) {
    using Case = std::tuple<std::uint32_t, std::uint32_t, int>; // attached, listed by the backend, found
    for (const auto& [attached, listed, found] : {Case{1024, 1024, 1024},
                                                  {1025, 1024, 1025},
                                                  {32767, 1024, 32767},
                                                  {32768, 1024, 32767},
                                                  {4'000'000'000U, 1024, 32767}}) {
        FallbackDriver fallback(std::make_unique<ReportedAdapters>(attached), nullptr);
        std::uint32_t backendListed = 0;
        ASSERT_EQ(fallback.createDeviceInfoList(backendListed), ft::OK);
        EXPECT_EQ(backendListed, listed) << attached;
        ReportedAdapters driver(attached);
        testing::PickingChooser chooser;
        record::EventLog log;
        EXPECT_EQ(DeviceSearch(driver, chooser, log).FindDevices(), found) << attached;
    }
}

} // namespace
} // namespace valve::link
