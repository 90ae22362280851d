#include "link/d2xx_driver.h"

#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace valve::link {
namespace {

// The control interface of the stand-in library (tests/link/d2xx_double).
class DoubleControl {
public:
    explicit DoubleControl(const char* path) : library_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        reset = symbol<void (*)()>("dbl_reset");
        addDevice = symbol<void (*)(const char*, const char*, std::uint32_t)>("dbl_add_device");
        setStatus = symbol<void (*)(const char*, std::uint32_t)>("dbl_set_status");
        pushRx = symbol<void (*)(const unsigned char*, std::uint32_t)>("dbl_push_rx");
        logFn_ = symbol<std::uint32_t (*)(char*, std::uint32_t)>("dbl_log");
        writtenFn_ = symbol<std::uint32_t (*)(unsigned char*, std::uint32_t)>("dbl_written");
        eventRegistered = symbol<int (*)()>("dbl_event_registered");
        reset();
    }
    ~DoubleControl() { dlclose(library_); }
    DoubleControl(const DoubleControl&) = delete;
    DoubleControl& operator=(const DoubleControl&) = delete;

    [[nodiscard]] std::string log() const {
        char text[4096];
        logFn_(text, sizeof text);
        return text;
    }
    [[nodiscard]] std::string written() const {
        unsigned char bytes[256];
        const auto n = writtenFn_(bytes, sizeof bytes);
        return std::string(reinterpret_cast<const char*>(bytes), n);
    }
    void push(const std::string& bytes) const {
        pushRx(reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<std::uint32_t>(bytes.size()));
    }

    void (*reset)() = nullptr;
    void (*addDevice)(const char*, const char*, std::uint32_t) = nullptr;
    void (*setStatus)(const char*, std::uint32_t) = nullptr;
    void (*pushRx)(const unsigned char*, std::uint32_t) = nullptr;
    int (*eventRegistered)() = nullptr;

private:
    template <typename Fn> Fn symbol(const char* name) {
        auto fn = reinterpret_cast<Fn>(dlsym(library_, name));
        if (fn == nullptr) {
            ADD_FAILURE() << "the double lacks " << name;
        }
        return fn;
    }

    void* library_;
    std::uint32_t (*logFn_)(char*, std::uint32_t) = nullptr;
    std::uint32_t (*writtenFn_)(unsigned char*, std::uint32_t) = nullptr;
};

bool waitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class D2xxDriverTest : public ::testing::Test {
protected:
    DoubleControl control{D2XX_DOUBLE_PATH};
    std::unique_ptr<D2xxDriver> driver = D2xxDriver::load(D2XX_DOUBLE_PATH);

    FtHandle openValve() {
        FtHandle handle = 0;
        EXPECT_EQ(driver->openEx("Valve A", ft::OPEN_BY_DESCRIPTION, handle), ft::OK);
        return handle;
    }
};

TEST(D2xxDriverLoad, MissingLibraryOrOperationGivesNoDriver) {
    EXPECT_EQ(D2xxDriver::load("/nonexistent/libftd2xx.so"), nullptr);
    EXPECT_EQ(D2xxDriver::load(D2XX_DOUBLE_INCOMPLETE_PATH), nullptr); // lacks FT_Purge
    EXPECT_NE(D2xxDriver::load(D2XX_DOUBLE_NOEVENTS_PATH), nullptr);   // event notification is optional
}

TEST_F(D2xxDriverTest, ListsDevicesWithFlagsAndTerminatedTexts) {
    ASSERT_NE(driver, nullptr);
    control.addDevice("Valve A", "FT001", 0);
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

    DeviceInfoDetail missing;
    EXPECT_EQ(driver->getDeviceInfoDetail(2, missing), ft::DEVICE_NOT_FOUND);
}

TEST_F(D2xxDriverTest, OpenSetsLatencyTimerAndHandleRoundTrips) {
    ASSERT_NE(driver, nullptr);
    control.addDevice("Valve A", "FT001", 0);
    const FtHandle handle = openValve();
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(control.log(), "FT_OpenEx(Valve A,2)\nFT_SetLatencyTimer(2)\n");

    // The double answers INVALID_HANDLE unless it gets its own pointer back.
    EXPECT_EQ(driver->setBaudRate(handle, 19200), ft::OK);
    EXPECT_EQ(driver->purge(handle, ft::PURGE_RX | ft::PURGE_TX), ft::OK);
    EXPECT_NE(control.log().find("FT_SetBaudRate(19200)\nFT_Purge(3)\n"), std::string::npos) << control.log();

    std::uint32_t count = 0;
    ASSERT_EQ(driver->createDeviceInfoList(count), ft::OK);
    DeviceInfoDetail detail;
    ASSERT_EQ(driver->getDeviceInfoDetail(0, detail), ft::OK);
    EXPECT_EQ(detail.handle, handle);
    EXPECT_EQ(detail.flags & ft::FLAGS_OPENED, ft::FLAGS_OPENED);

    EXPECT_EQ(driver->close(handle), ft::OK);
    EXPECT_EQ(driver->setFlowControl(handle, ft::FLOW_NONE, 0, 0), ft::INVALID_HANDLE);
    EXPECT_EQ(driver->close(handle), ft::INVALID_HANDLE);
}

TEST_F(D2xxDriverTest, LatencyTimerFailureDoesNotFailOpenAndOpenFailureSkipsIt) {
    ASSERT_NE(driver, nullptr);
    control.addDevice("Valve A", "FT001", 0);
    control.setStatus("FT_SetLatencyTimer", ft::IO_ERROR);
    const FtHandle handle = openValve();
    EXPECT_NE(handle, 0u);

    control.reset();
    control.setStatus("FT_OpenEx", ft::DEVICE_NOT_OPENED);
    FtHandle untouched = 0;
    EXPECT_EQ(driver->openEx("Valve A", ft::OPEN_BY_DESCRIPTION, untouched), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(untouched, 0u);
    EXPECT_EQ(control.log(), "FT_OpenEx(Valve A,2)\n");
}

TEST_F(D2xxDriverTest, StatusNumbersPassThroughUnchanged) {
    ASSERT_NE(driver, nullptr);
    control.addDevice("Valve A", "FT001", 0);
    const FtHandle handle = openValve();
    control.setStatus("FT_SetFlowControl", ft::IO_ERROR);
    control.setStatus("FT_CreateDeviceInfoList", ft::OTHER_ERROR);
    EXPECT_EQ(driver->setFlowControl(handle, ft::FLOW_NONE, 0, 0), ft::IO_ERROR);
    std::uint32_t count = 0;
    EXPECT_EQ(driver->createDeviceInfoList(count), ft::OTHER_ERROR);
}

TEST_F(D2xxDriverTest, ReadsQueuedBytesOneAtATimeAndWritesCommands) {
    ASSERT_NE(driver, nullptr);
    control.addDevice("Valve A", "FT001", 0);
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

    const std::string command = "S\r";
    std::uint32_t sent = 0;
    ASSERT_EQ(driver->write(handle, command.data(), 2, sent), ft::OK);
    EXPECT_EQ(sent, 2u);
    EXPECT_EQ(control.written(), command);

    ASSERT_EQ(driver->purge(handle, ft::PURGE_RX), ft::OK);
    ASSERT_EQ(driver->getQueueStatus(handle, queued), ft::OK);
    EXPECT_EQ(queued, 0u);
}

TEST_F(D2xxDriverTest, ReceiveNotifierFiresOnArrivalUntilCloseWhenSetBeforeOrAfterOpen) {
    ASSERT_NE(driver, nullptr);
    control.addDevice("Valve A", "FT001", 0);
    for (const bool beforeOpen : {true, false}) {
        SCOPED_TRACE(beforeOpen ? "set before open" : "set after open");
        std::atomic<int> calls{0};
        const auto notifier = [&] { ++calls; };
        ASSERT_TRUE(!beforeOpen || driver->setReceiveNotifier(notifier));
        const FtHandle handle = openValve();
        ASSERT_TRUE(beforeOpen || driver->setReceiveNotifier(notifier));
        ASSERT_EQ(control.eventRegistered(), 1);

        control.push("A");
        EXPECT_TRUE(waitFor([&] { return calls > 0; }));

        ASSERT_EQ(driver->close(handle), ft::OK);
        EXPECT_EQ(control.eventRegistered(), 0);
        const int afterClose = calls;
        control.push("B");
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        EXPECT_EQ(calls, afterClose);
        driver->setReceiveNotifier([] {});
        control.reset();
        control.addDevice("Valve A", "FT001", 0);
    }
}

TEST(D2xxDriverNoEvents, NotifierUnavailableWithoutEventNotification) {
    DoubleControl control{D2XX_DOUBLE_NOEVENTS_PATH};
    auto driver = D2xxDriver::load(D2XX_DOUBLE_NOEVENTS_PATH);
    ASSERT_NE(driver, nullptr);
    EXPECT_FALSE(driver->setReceiveNotifier([] {}));
}

} // namespace
} // namespace valve::link
