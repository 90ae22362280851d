#include "libftdi_support.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <libusb.h>
#include <system_error>
#include <unistd.h>

namespace valve::link::libftdi {

namespace fs = std::filesystem;

bool isSupportedAdapter(std::uint16_t vendor, std::uint16_t product) {
    static constexpr std::array<std::uint16_t, 5> kProducts{0x6001, 0x6010, 0x6011, 0x6014, 0x6015};
    return vendor == kFtdiVendor && std::find(kProducts.begin(), kProducts.end(), product) != kProducts.end();
}

FtStatus statusFromLibusb(int libusbCode) {
    switch (libusbCode) {
    case LIBUSB_SUCCESS:
        return ft::OK;
    case LIBUSB_ERROR_IO:
    case LIBUSB_ERROR_TIMEOUT:
    case LIBUSB_ERROR_OVERFLOW:
    case LIBUSB_ERROR_PIPE:
    case LIBUSB_ERROR_INTERRUPTED:
        return ft::IO_ERROR;
    case LIBUSB_ERROR_INVALID_PARAM:
        return ft::INVALID_PARAMETER;
    case LIBUSB_ERROR_ACCESS:
    case LIBUSB_ERROR_BUSY:
        return ft::DEVICE_NOT_OPENED;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return ft::DEVICE_NOT_FOUND;
    case LIBUSB_ERROR_NO_MEM:
        return ft::INSUFFICIENT_RESOURCES;
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return ft::NOT_SUPPORTED;
    default:
        return ft::OTHER_ERROR;
    }
}

bool meansAdapterLost(int libusbCode) {
    return libusbCode == LIBUSB_ERROR_NO_DEVICE;
}

FtStatus statusFromOpenResult(int ftdiResult) {
    switch (ftdiResult) {
    case 0:
        return ft::OK;
    case -3:
    case -4:
    case -5:
    case -8:
        return ft::DEVICE_NOT_OPENED;
    case -6:
    case -7:
    case -9:
    case -10:
    case -11:
    case -12:
        return ft::IO_ERROR;
    default:
        return ft::OTHER_ERROR;
    }
}

std::optional<LineProperty> lineProperty(std::uint8_t wordLength, std::uint8_t stopBits,
                                         std::uint8_t parity) {
    // libftdi's enums use the same numbers as D2XX for stop bits (0 = 1, 2 = 2)
    // and parity (0 none .. 4 space); only 7 and 8 data bits exist on both sides.
    if ((wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) || parity > 4) {
        return std::nullopt;
    }
    return LineProperty{wordLength, stopBits, parity};
}

std::uint32_t deviceType(std::uint16_t bcdDevice) {
    switch (bcdDevice >> 8) {
    case 0x02:
        return 1; // AM
    case 0x04:
        return 0; // BM
    case 0x05:
        return 4; // 2232C
    case 0x06:
        return 5; // 232R
    case 0x07:
        return 6; // 2232H
    case 0x08:
        return 7; // 4232H
    case 0x09:
        return 8; // 232H
    case 0x10:
        return 9; // X series
    default:
        return 3; // unknown
    }
}

bool comesBefore(const UsbLocation& a, const UsbLocation& b) {
    if (a.bus != b.bus) {
        return a.bus < b.bus;
    }
    if (a.ports != b.ports) {
        return a.ports < b.ports;
    }
    return a.address < b.address;
}

std::string sysfsDeviceName(const UsbLocation& location) {
    if (location.ports.empty()) {
        return "usb" + std::to_string(location.bus);
    }
    std::string name = std::to_string(location.bus) + "-";
    for (std::size_t i = 0; i < location.ports.size(); ++i) {
        name += (i == 0 ? "" : ".") + std::to_string(location.ports[i]);
    }
    return name;
}

std::vector<std::string> ttyNodesOfInterface(const fs::path& sysRoot, const std::string& deviceName,
                                             int interfaceNumber) {
    // Interfaces are named "<device>:<configuration>.<interface>".
    const std::string prefix = deviceName + ":";
    const std::string suffix = "." + std::to_string(interfaceNumber);
    std::vector<std::string> nodes;
    std::error_code ec;
    for (fs::directory_iterator it(sysRoot / "bus/usb/devices", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix) || !name.ends_with(suffix)) {
            continue;
        }
        std::error_code inner;
        for (fs::directory_iterator tty(it->path(), inner); !inner && tty != end; tty.increment(inner)) {
            const std::string entry = tty->path().filename().string();
            if (entry.starts_with("tty")) {
                nodes.push_back("/dev/" + entry);
            }
        }
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

std::string usbAttribute(const fs::path& sysRoot, const std::string& deviceName,
                         const std::string& attribute) {
    std::ifstream file(sysRoot / "bus/usb/devices" / deviceName / attribute);
    std::string value;
    std::getline(file, value);
    return value;
}

bool openByAnotherProcess(const fs::path& procRoot, const std::string& deviceNode, long ownPid) {
    std::error_code ec;
    for (fs::directory_iterator it(procRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        long pid = 0;
        const auto [ptr, err] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (err != std::errc{} || ptr != name.data() + name.size() || pid == ownPid) {
            continue;
        }
        std::error_code inner;
        for (fs::directory_iterator fd(it->path() / "fd", inner); !inner && fd != end; fd.increment(inner)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fd->path(), linkError);
            if (!linkError && target == deviceNode) {
                return true;
            }
        }
    }
    return false;
}

bool countsAsOpenElsewhere(InterfaceProbe probe, bool serialDeviceInUse, bool openedByUs) {
    if (openedByUs || serialDeviceInUse) {
        return true;
    }
    // NoAccess and Unknown stay free: opening them is what tells the operator why not.
    return probe == InterfaceProbe::ClaimedByProgram;
}

bool serialDriverBound(const fs::path& sysRoot, const std::string& deviceName) {
    std::error_code linkError;
    const fs::path driver =
        fs::read_symlink(sysRoot / "bus/usb/devices" / (deviceName + ":1.0") / "driver", linkError);
    return !linkError && driver.filename() == "ftdi_sio";
}

bool heldBySerialDriver(const fs::path& sysRoot, const std::string& description) {
    std::error_code ec;
    for (fs::directory_iterator it(sysRoot / "bus/usb/devices", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.find(':') == std::string::npos && usbAttribute(sysRoot, name, "idVendor") == "0403" &&
            usbAttribute(sysRoot, name, "product") == description && serialDriverBound(sysRoot, name)) {
            return true;
        }
    }
    return false;
}

bool seesEveryProcess() {
    return ::geteuid() == 0;
}

QString takenFromKernelDriverDiagnostic(const QString& description, const QString& ttyNodes) {
    return QStringLiteral("The USB adapter \"%1\" was taken from the kernel's serial driver (ftdi_sio): "
                          "%2 is gone until the panel closes the adapter, then it comes back. A program of "
                          "another user that had it open cannot be seen and has lost it.")
        .arg(description, ttyNodes.isEmpty() ? QStringLiteral("its serial device") : ttyNodes);
}

QString latencyTimerDiagnostic(const QString& description, int milliseconds) {
    return QStringLiteral("The latency timer of the USB adapter \"%1\" could not be set to %2 ms: every "
                          "reply may reach the panel up to 16 ms late.")
        .arg(description)
        .arg(milliseconds);
}

QString eventCharacterDiagnostic(const QString& description, int latencyTimerMs) {
    return QStringLiteral("The event character of the USB adapter \"%1\" could not be set to CR: every "
                          "reply may reach the panel up to %2 ms late.")
        .arg(description)
        .arg(latencyTimerMs);
}

QString serialDriverFallbackDiagnostic(const QString& description) {
    return QStringLiteral("FTDI's D2XX library cannot open the USB adapter \"%1\" while the kernel's serial "
                          "driver ftdi_sio holds it, so the panel uses libftdi1 for it. To use D2XX, run "
                          "sudo rmmod ftdi_sio usbserial (or blacklist ftdi_sio) and restart the panel.")
        .arg(description);
}

QString permissionDiagnostic(const QString& description) {
    return QStringLiteral(
               "No permission to open the USB adapter \"%1\". Install the udev rule "
               "packaging/60-valve-panel-ftdi.rules (sudo cmake --install <build dir>, or copy it to "
               "/etc/udev/rules.d/), run sudo udevadm control --reload-rules && sudo udevadm trigger, "
               "then unplug and replug the adapter.")
        .arg(description);
}

} // namespace valve::link::libftdi
