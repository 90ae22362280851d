#include "link/libftdi_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <libusb.h>
#include <unistd.h>

namespace valve::link::libftdi {
namespace {

namespace fs = std::filesystem;

TEST(LibftdiErrors, LibusbAndOpenResultsMapToD2xxStatusNumbers) {
    const std::pair<int, FtStatus> libusb[] = {
        {LIBUSB_SUCCESS, ft::OK},
        {LIBUSB_ERROR_IO, ft::IO_ERROR},
        {LIBUSB_ERROR_NO_DEVICE, ft::DEVICE_NOT_FOUND},
        {LIBUSB_ERROR_BUSY, ft::DEVICE_NOT_OPENED},
        {LIBUSB_ERROR_ACCESS, ft::DEVICE_NOT_OPENED},
        {LIBUSB_ERROR_TIMEOUT, ft::IO_ERROR},
        {LIBUSB_ERROR_NO_MEM, ft::INSUFFICIENT_RESOURCES},
        {-1234, ft::OTHER_ERROR},
    };
    for (const auto& [code, status] : libusb) {
        EXPECT_EQ(statusFromLibusb(code), status) << code;
    }
    // Only an unplug means the adapter is gone; a glitch or a quiet line does not.
    for (const int code :
         {LIBUSB_ERROR_NO_DEVICE, LIBUSB_ERROR_IO, LIBUSB_ERROR_TIMEOUT, LIBUSB_ERROR_BUSY}) {
        EXPECT_EQ(meansAdapterLost(code), code == LIBUSB_ERROR_NO_DEVICE) << code;
    }
    // Claim failed (in use), no permission and no device cannot be opened.
    const std::pair<int, FtStatus> open[] = {{0, ft::OK},
                                             {-5, ft::DEVICE_NOT_OPENED},
                                             {-8, ft::DEVICE_NOT_OPENED},
                                             {-4, ft::DEVICE_NOT_OPENED},
                                             {-7, ft::IO_ERROR},
                                             {-666, ft::OTHER_ERROR}};
    for (const auto& [result, status] : open) {
        EXPECT_EQ(statusFromOpenResult(result), status) << result;
    }
}

TEST(LibftdiParameters, LinePropertyAcceptsOnlyD2xxCodes) {
    const auto sevenEvenTwo = lineProperty(7, 2, 2);
    ASSERT_TRUE(sevenEvenTwo);
    EXPECT_EQ(sevenEvenTwo->bits, 7);
    EXPECT_EQ(sevenEvenTwo->stopBits, 2);
    EXPECT_EQ(sevenEvenTwo->parity, 2);
    EXPECT_TRUE(lineProperty(8, 0, 0));
    EXPECT_FALSE(lineProperty(9, 0, 0));
    EXPECT_FALSE(lineProperty(8, 1, 0)); // 1.5 stop bits has no D2XX code
    EXPECT_FALSE(lineProperty(8, 0, 5));
}

TEST(LibftdiParameters, AdapterIdentification) {
    EXPECT_TRUE(isSupportedAdapter(0x0403, 0x6001));
    EXPECT_TRUE(isSupportedAdapter(0x0403, 0x6015));
    EXPECT_FALSE(isSupportedAdapter(0x0403, 0x6002));
    EXPECT_FALSE(isSupportedAdapter(0x0404, 0x6001));
    EXPECT_EQ(deviceType(0x0600), 5u); // 232R
    EXPECT_EQ(deviceType(0x0700), 6u); // 2232H
    EXPECT_EQ(deviceType(0x1000), 9u); // X series
    EXPECT_EQ(deviceType(0x4200), 3u);
}

TEST(LibftdiOrdering, BusThenPortPathThenAddress) {
    std::vector<UsbLocation> locations{
        {2, {1}, 5}, {1, {3}, 9}, {1, {1, 4}, 12}, {1, {1, 2}, 20}, {1, {1, 2}, 7}, {1, {1}, 3},
    };
    std::sort(locations.begin(), locations.end(), comesBefore);
    std::vector<std::string> names;
    for (const auto& location : locations) {
        names.push_back(sysfsDeviceName(location) + "@" + std::to_string(location.address));
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"1-1@3", "1-1.2@7", "1-1.2@20", "1-1.4@12", "1-3@9", "2-1@5"}));
    EXPECT_EQ(sysfsDeviceName({4, {}, 1}), "usb4");
}

// A scratch directory for fake sysfs and /proc trees.
class FakeTree : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("valve-fake-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    void makeDir(const fs::path& relative) { fs::create_directories(root / relative); }
    void writeFile(const fs::path& relative, const std::string& text) {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << text;
    }
    void makeFdLink(const std::string& pid, const std::string& fd, const std::string& target) {
        makeDir(fs::path("proc") / pid / "fd");
        fs::create_symlink(target, root / "proc" / pid / "fd" / fd);
    }

    fs::path root;
};

TEST_F(FakeTree, FindsTheSerialDeviceOfOneInterface) {
    makeDir("sys/bus/usb/devices/1-1.4:1.0/ttyUSB1/tty/ttyUSB1");
    makeDir("sys/bus/usb/devices/1-1.4:1.0/power");
    makeDir("sys/bus/usb/devices/1-1.4:1.1/ttyUSB2");
    makeDir("sys/bus/usb/devices/1-1.40:1.0/ttyUSB3"); // a neighbour whose name starts alike
    makeDir("sys/bus/usb/devices/1-1.5:1.0");          // bound to nothing
    const fs::path sys = root / "sys";
    EXPECT_EQ(ttyNodesOfInterface(sys, "1-1.4", 0), std::vector<std::string>{"/dev/ttyUSB1"});
    EXPECT_EQ(ttyNodesOfInterface(sys, "1-1.4", 1), std::vector<std::string>{"/dev/ttyUSB2"});
    EXPECT_TRUE(ttyNodesOfInterface(sys, "1-1.5", 0).empty());
    EXPECT_TRUE(ttyNodesOfInterface(root / "missing", "1-1.4", 0).empty());
}

TEST_F(FakeTree, ReadsUsbAttributesWithoutTheLineEnd) {
    writeFile("sys/bus/usb/devices/1-1.4/product", "FT232R USB UART\n");
    EXPECT_EQ(usbAttribute(root / "sys", "1-1.4", "product"), "FT232R USB UART");
    EXPECT_EQ(usbAttribute(root / "sys", "1-1.4", "serial"), "");
}

TEST_F(FakeTree, SeesTheSerialDeviceOpenInAnotherProcessOnly) {
    makeFdLink("100", "3", "/dev/ttyUSB1");
    makeFdLink("100", "4", "/dev/null");
    makeFdLink("200", "0", "/dev/ttyUSB10");
    makeFdLink("300", "5", "/dev/ttyUSB2");
    makeDir("proc/sys/fd"); // not a process
    fs::create_symlink("/dev/ttyUSB3", root / "proc/sys/fd/1");
    const fs::path proc = root / "proc";
    EXPECT_TRUE(openByAnotherProcess(proc, "/dev/ttyUSB1", 300));
    EXPECT_FALSE(openByAnotherProcess(proc, "/dev/ttyUSB1", 100)) << "our own descriptors do not count";
    EXPECT_FALSE(openByAnotherProcess(proc, "/dev/ttyUSB2", 300));
    EXPECT_FALSE(openByAnotherProcess(proc, "/dev/ttyUSB3", 300));
    EXPECT_FALSE(openByAnotherProcess(proc, "/dev/ttyUSB0", 300));
    EXPECT_FALSE(openByAnotherProcess(root / "missing", "/dev/ttyUSB1", 300));
}

TEST(LibftdiOpenElsewhere, NeverTakesAnAdapterSomeoneIsUsing) {
    EXPECT_FALSE(countsAsOpenElsewhere(InterfaceProbe::Free, false, false));
    EXPECT_TRUE(countsAsOpenElsewhere(InterfaceProbe::ClaimedByProgram, false, false));
    // Bound to ftdi_sio: free while nobody has its serial device open.
    EXPECT_FALSE(countsAsOpenElsewhere(InterfaceProbe::KernelDriver, false, false));
    EXPECT_TRUE(countsAsOpenElsewhere(InterfaceProbe::KernelDriver, true, false));
    // Without permission the open must still be tried, so that the operator learns the fix.
    EXPECT_FALSE(countsAsOpenElsewhere(InterfaceProbe::NoAccess, false, false));
    EXPECT_TRUE(countsAsOpenElsewhere(InterfaceProbe::NoAccess, true, false));
    EXPECT_TRUE(countsAsOpenElsewhere(InterfaceProbe::Free, false, true));
}

TEST(LibftdiDiagnostics, PermissionLineNamesTheAdapterAndTheFix) {
    const QString line = permissionDiagnostic(QStringLiteral("FT232R USB UART"));
    for (const char* part : {"FT232R USB UART", "packaging/60-valve-panel-ftdi.rules", "/etc/udev/rules.d",
                             "sudo udevadm control --reload-rules && sudo udevadm trigger", "replug"}) {
        EXPECT_TRUE(line.contains(QString::fromLatin1(part))) << part;
    }
}

} // namespace
} // namespace valve::link::libftdi
