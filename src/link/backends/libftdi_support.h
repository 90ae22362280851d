#pragma once

#include "link/ftdi_driver.h"

#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The parts of the libftdi1 backend that need no adapter: error mapping,
// parameter translation, the sysfs and /proc look-ups and the "open
// elsewhere" decision.
namespace valve::link::libftdi {

inline constexpr std::uint16_t kFtdiVendor = 0x0403;
bool isSupportedAdapter(std::uint16_t vendor, std::uint16_t product);

// Status numbers for libusb error codes (also what libftdi passes on from a
// bulk read):
//
// | libusb code              | status                  | adapter lost |
// |--------------------------|-------------------------|--------------|
// | 0 (success)              | OK                      | no           |
// | ERROR_IO (-1)            | IO_ERROR                | no           |
// | ERROR_INVALID_PARAM (-2) | INVALID_PARAMETER       | no           |
// | ERROR_ACCESS (-3)        | DEVICE_NOT_OPENED       | no           |
// | ERROR_NO_DEVICE (-4)     | DEVICE_NOT_FOUND        | yes          |
// | ERROR_NOT_FOUND (-5)     | DEVICE_NOT_FOUND        | no           |
// | ERROR_BUSY (-6)          | DEVICE_NOT_OPENED       | no           |
// | ERROR_TIMEOUT (-7)       | IO_ERROR                | no           |
// | ERROR_OVERFLOW (-8)      | IO_ERROR                | no           |
// | ERROR_PIPE (-9)          | IO_ERROR                | no           |
// | ERROR_INTERRUPTED (-10)  | IO_ERROR                | no           |
// | ERROR_NO_MEM (-11)       | INSUFFICIENT_RESOURCES  | no           |
// | ERROR_NOT_SUPPORTED (-12)| NOT_SUPPORTED           | no           |
// | anything else            | OTHER_ERROR             | no           |
FtStatus statusFromLibusb(int libusbCode);
// An adapter that reported this is gone (unplugged): every later call on its
// handle fails with IO_ERROR, the liveness probe (FT_SetFlowControl) included.
// An I/O error (a glitch on the bus, a cancelled transfer) is not enough; only
// bulk reads that keep failing make the backend give the adapter up.
bool meansAdapterLost(int libusbCode);

// Status numbers for the results of ftdi_usb_open_dev():
//
// | libftdi result                          | status            |
// |-----------------------------------------|-------------------|
// | 0                                       | OK                |
// | -3 set configuration, -5 claim failed   | DEVICE_NOT_OPENED |
// |    (the adapter is in use)              |                   |
// | -4 libusb_open failed, -8 no permission | DEVICE_NOT_OPENED |
// | -6 reset, -7 initial baud rate failed   | IO_ERROR          |
// | -9..-12 descriptor/configuration reads  | IO_ERROR          |
// | anything else                           | OTHER_ERROR       |
//
// The control calls (baud rate, line property, flow control, latency, purge)
// report only "failed" (-1/-2) or "no device" (-2/-3): any failure of theirs
// is IO_ERROR, except a baud rate the chip cannot make (-1 of
// ftdi_set_baudrate), which is INVALID_BAUD_RATE. A failed bulk write is
// IO_ERROR. Calls on a handle this backend did not hand out, or has closed,
// give INVALID_HANDLE.
FtStatus statusFromOpenResult(int ftdiResult);

// libftdi's line property for D2XX word length, stop bits and parity codes;
// empty for codes D2XX does not define.
struct LineProperty {
    int bits = 8;     // enum ftdi_bits_type
    int stopBits = 0; // enum ftdi_stopbits_type
    int parity = 0;   // enum ftdi_parity_type
};
std::optional<LineProperty> lineProperty(std::uint8_t wordLength, std::uint8_t stopBits, std::uint8_t parity);

// D2XX device type (FT_DEVICE) from the adapter's release number.
std::uint32_t deviceType(std::uint16_t bcdDevice);

// Where an adapter sits on the USB tree.
struct UsbLocation {
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports; // port path from the root hub
    std::uint8_t address = 0;
};
// The adapters' order: by bus, then port path, then address.
bool comesBefore(const UsbLocation& a, const UsbLocation& b);
// The kernel's name of a USB device: "1-1.4" for bus 1, ports 1 and 4.
std::string sysfsDeviceName(const UsbLocation& location);

// The serial devices (as "/dev/ttyUSB0") that the kernel made for one
// interface of a USB device, looked up under `sysRoot` (normally "/sys").
std::vector<std::string> ttyNodesOfInterface(const std::filesystem::path& sysRoot,
                                             const std::string& deviceName, int interfaceNumber);
// One attribute file of a USB device ("product", "serial"), without the line
// end; empty when missing. Readable without access to the device itself.
std::string usbAttribute(const std::filesystem::path& sysRoot, const std::string& deviceName,
                         const std::string& attribute);

// Whether a process other than `ownPid` holds `deviceNode` open, from the
// descriptor links under `procRoot` (normally "/proc"). Processes whose
// descriptors we may not read (other users', unless we are root) are not seen.
bool openByAnotherProcess(const std::filesystem::path& procRoot, const std::string& deviceNode, long ownPid);

// What trying the adapter's interface told us.
enum class InterfaceProbe {
    Free,             // we could claim it (and let go at once)
    ClaimedByProgram, // claim failed with BUSY: another libusb program has it
    KernelDriver,     // bound to the kernel's serial driver
    NoAccess,         // no permission to open the device at all
    Unknown,          // the probe failed for another reason
};
// The "open elsewhere" flag. An adapter bound to the kernel's serial driver
// is free unless some process has its serial device open: opening it detaches
// the driver, which would pull the port from under that process.
bool countsAsOpenElsewhere(InterfaceProbe probe, bool serialDeviceInUse, bool openedByUs);

// Whether the kernel's serial driver ftdi_sio is bound to the first interface
// of the USB device `deviceName` ("1-1.4"), looked up under `sysRoot`.
bool serialDriverBound(const std::filesystem::path& sysRoot, const std::string& deviceName);
// The same for any FTDI adapter with this product string.
bool heldBySerialDriver(const std::filesystem::path& sysRoot, const std::string& description);

// Whether this process can see every other process's open files (it runs as root).
bool seesEveryProcess();

// Where the backend looks at the system: the sysfs and /proc trees, and
// whether it sees every process's open files there.
struct SystemView {
    std::filesystem::path sysRoot = "/sys";
    std::filesystem::path procRoot = "/proc";
    bool seesEveryProcess = libftdi::seesEveryProcess();
};

// The operator's lines: an adapter we may not open, with the fix; one taken
// from the kernel's serial driver; one whose latency timer could not be set;
// one whose event character could not be set, with the latency timer it has.
QString permissionDiagnostic(const QString& description);
QString takenFromKernelDriverDiagnostic(const QString& description, const QString& ttyNodes);
QString latencyTimerDiagnostic(const QString& description, int milliseconds);
QString eventCharacterDiagnostic(const QString& description, int latencyTimerMs);
// One that D2XX cannot open while ftdi_sio holds it, and libftdi1 opens instead.
QString serialDriverFallbackDiagnostic(const QString& description);

} // namespace valve::link::libftdi
