#include "libftdi_driver.h"

#include "chip_settings.h"
#include "libftdi_port.h"

#include <QStringList>
#include <algorithm>
#include <cstring>
#include <ftdi.h>
#include <libusb.h>
#include <unistd.h>

namespace valve::link {

using libftdi::InterfaceProbe;
using libftdi::UsbLocation;

struct LibftdiDriver::Adapter {
    libusb_device* device = nullptr;
    UsbLocation location;
    std::uint16_t product = 0;
    std::uint16_t release = 0;
    std::string description;
    std::string serialNumber;
    InterfaceProbe probe = InterfaceProbe::Unknown;
    bool serialDriverBound = false;
    bool openedHere = false;
    bool openElsewhere = false;
};

struct LibftdiDriver::OpenPort {
    std::unique_ptr<libftdi::Port> port;
    UsbLocation location;
};

namespace {

constexpr int kInterface = 0; // channel A
constexpr std::uint32_t kFlagHighSpeed = 2;

// The device list of a libusb context, freed (and its devices unreferenced)
// when it goes out of scope.
class UsbDeviceList {
public:
    explicit UsbDeviceList(libusb_context* usb) { count_ = libusb_get_device_list(usb, &list_); }
    ~UsbDeviceList() {
        if (count_ >= 0) {
            libusb_free_device_list(list_, 1);
        }
    }
    UsbDeviceList(const UsbDeviceList&) = delete;
    UsbDeviceList& operator=(const UsbDeviceList&) = delete;
    [[nodiscard]] libusb_device* const* devices() const { return list_; }
    [[nodiscard]] long count() const { return static_cast<long>(count_); }

private:
    libusb_device** list_ = nullptr;
    ssize_t count_ = -1;
};

std::string stringDescriptor(libusb_device_handle* handle, std::uint8_t index) {
    if (index == 0) {
        return {};
    }
    unsigned char text[256] = {};
    const int length = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text - 1);
    return length > 0 ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length))
                      : std::string{};
}

// Tries the interface without disturbing anyone: a kernel driver is only
// looked at, a free interface is claimed and let go at once.
InterfaceProbe probeInterface(libusb_device_handle* handle) {
    if (libusb_kernel_driver_active(handle, kInterface) == 1) {
        return InterfaceProbe::KernelDriver;
    }
    const int claimed = libusb_claim_interface(handle, kInterface);
    if (claimed == LIBUSB_SUCCESS) {
        libusb_release_interface(handle, kInterface);
        return InterfaceProbe::Free;
    }
    return claimed == LIBUSB_ERROR_BUSY ? InterfaceProbe::ClaimedByProgram : InterfaceProbe::Unknown;
}

bool accessDenied(libusb_device* device) {
    libusb_device_handle* handle = nullptr;
    const int result = libusb_open(device, &handle);
    if (result == LIBUSB_SUCCESS) {
        libusb_close(handle);
    }
    return result == LIBUSB_ERROR_ACCESS;
}

void copyText(const std::string& text, std::array<char, kDescriptionBufferSize>& buffer) {
    buffer.fill('\0');
    std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size() - 1));
}

} // namespace

LibftdiDriver::LibftdiDriver(libftdi::SystemView system) : system_(std::move(system)) {
    usbInitResult_ = libusb_init(&usb_);
    if (usbInitResult_ != LIBUSB_SUCCESS) {
        usb_ = nullptr;
    }
}

LibftdiDriver::~LibftdiDriver() {
    ports_.clear(); // closes every open adapter before the USB context goes
    if (usb_ != nullptr) {
        libusb_exit(usb_);
    }
}

LibftdiDriver::Adapter LibftdiDriver::inspect(libusb_device* device) const {
    Adapter adapter;
    adapter.device = device;
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    adapter.product = descriptor.idProduct;
    adapter.release = descriptor.bcdDevice;
    adapter.location.bus = libusb_get_bus_number(device);
    adapter.location.address = libusb_get_device_address(device);
    std::uint8_t ports[8] = {};
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    adapter.location.ports.assign(ports, ports + std::max(depth, 0));

    const std::string name = libftdi::sysfsDeviceName(adapter.location);
    adapter.openedHere = openedHere(adapter.location);
    if (!adapter.openedHere) {
        libusb_device_handle* handle = nullptr;
        const int opened = libusb_open(device, &handle);
        if (opened == LIBUSB_SUCCESS) {
            adapter.description = stringDescriptor(handle, descriptor.iProduct);
            adapter.serialNumber = stringDescriptor(handle, descriptor.iSerialNumber);
            adapter.probe = probeInterface(handle);
            libusb_close(handle);
        } else if (opened == LIBUSB_ERROR_ACCESS) {
            adapter.probe = InterfaceProbe::NoAccess;
        }
    }
    // sysfs has the strings even when the device node is closed to us.
    if (adapter.description.empty()) {
        adapter.description = libftdi::usbAttribute(system_.sysRoot, name, "product");
    }
    if (adapter.serialNumber.empty()) {
        adapter.serialNumber = libftdi::usbAttribute(system_.sysRoot, name, "serial");
    }
    bool serialDeviceInUse = false;
    for (const std::string& node : libftdi::ttyNodesOfInterface(system_.sysRoot, name, kInterface)) {
        serialDeviceInUse =
            serialDeviceInUse || libftdi::openByAnotherProcess(system_.procRoot, node, ::getpid());
    }
    adapter.serialDriverBound = libftdi::serialDriverBound(system_.sysRoot, name);
    adapter.openElsewhere =
        libftdi::countsAsOpenElsewhere(adapter.probe, serialDeviceInUse, adapter.openedHere);
    return adapter;
}

std::vector<LibftdiDriver::Adapter> LibftdiDriver::scan(libusb_device* const* devices, long count) const {
    std::vector<Adapter> adapters;
    for (long i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(devices[i], &descriptor) == LIBUSB_SUCCESS &&
            libftdi::isSupportedAdapter(descriptor.idVendor, descriptor.idProduct)) {
            adapters.push_back(inspect(devices[i]));
        }
    }
    std::sort(adapters.begin(), adapters.end(), [](const Adapter& a, const Adapter& b) {
        return libftdi::comesBefore(a.location, b.location);
    });
    return adapters;
}

bool LibftdiDriver::openedHere(const UsbLocation& location) const {
    return std::any_of(ports_.begin(), ports_.end(), [&](const auto& entry) {
        return entry.second->location.bus == location.bus &&
               entry.second->location.address == location.address;
    });
}

libftdi::Port* LibftdiDriver::portOf(FtHandle handle) const {
    const auto it = ports_.find(handle);
    return it == ports_.end() ? nullptr : it->second->port.get();
}

void LibftdiDriver::report(const QString& line) const {
    if (diagnostics_) {
        diagnostics_(line);
    }
}

FtStatus LibftdiDriver::createDeviceInfoList(std::uint32_t& count) {
    if (usb_ == nullptr) {
        return libftdi::statusFromLibusb(usbInitResult_);
    }
    UsbDeviceList list(usb_);
    if (list.count() < 0) {
        return libftdi::statusFromLibusb(static_cast<int>(list.count()));
    }
    snapshot_.clear();
    heldBySerialDriverOrHere_.clear();
    for (const Adapter& adapter : scan(list.devices(), list.count())) {
        DeviceInfoDetail detail;
        detail.flags = (adapter.openElsewhere ? ft::FLAGS_OPENED : 0) |
                       (adapter.product == 0x6010 || adapter.product == 0x6011 || adapter.product == 0x6014
                            ? kFlagHighSpeed
                            : 0);
        detail.type = libftdi::deviceType(adapter.release);
        detail.id = (std::uint32_t{libftdi::kFtdiVendor} << 16) | adapter.product;
        detail.locationId = (std::uint32_t{adapter.location.bus} << 8) | adapter.location.address;
        copyText(adapter.serialNumber, detail.serialNumber);
        copyText(adapter.description, detail.description);
        for (const auto& [handle, open] : ports_) {
            if (open->location.bus == adapter.location.bus &&
                open->location.address == adapter.location.address) {
                detail.handle = handle;
            }
        }
        snapshot_.push_back(detail);
        heldBySerialDriverOrHere_.push_back(adapter.serialDriverBound || adapter.openedHere);
    }
    count = static_cast<std::uint32_t>(snapshot_.size());
    return ft::OK;
}

FtStatus LibftdiDriver::getDeviceInfoDetail(std::uint32_t index, DeviceInfoDetail& detail) {
    if (index >= snapshot_.size()) {
        return ft::DEVICE_NOT_FOUND;
    }
    detail = snapshot_[index];
    return ft::OK;
}

bool LibftdiDriver::heldBySerialDriverOrHere(std::uint32_t index) const {
    return index < heldBySerialDriverOrHere_.size() && heldBySerialDriverOrHere_[index];
}

FtStatus LibftdiDriver::openEx(const char* description, std::uint32_t flags, FtHandle& handle) {
    constexpr std::uint32_t kOpenBySerialNumber = 1;
    if (description == nullptr || (flags != ft::OPEN_BY_DESCRIPTION && flags != kOpenBySerialNumber)) {
        return ft::INVALID_PARAMETER;
    }
    if (usb_ == nullptr) {
        return libftdi::statusFromLibusb(usbInitResult_);
    }
    UsbDeviceList list(usb_); // holds the chosen adapter's device until it is open
    const std::vector<Adapter> adapters = scan(list.devices(), std::max(list.count(), 0L));
    const Adapter* chosen = nullptr;
    const FtStatus picked = pickAdapter(adapters, description, flags == ft::OPEN_BY_DESCRIPTION, chosen);
    if (picked != ft::OK) {
        return picked;
    }
    return openAdapter(*chosen, handle);
}

FtStatus LibftdiDriver::pickAdapter(const std::vector<Adapter>& adapters, const std::string& wanted,
                                    bool byDescription, const Adapter*& chosen) {
    auto matches = [&](const Adapter& a) {
        return (byDescription ? a.description : a.serialNumber) == wanted;
    };
    if (std::none_of(adapters.begin(), adapters.end(), matches)) {
        return ft::DEVICE_NOT_FOUND;
    }
    const auto available = std::find_if(adapters.begin(), adapters.end(),
                                        [&](const Adapter& a) { return matches(a) && !a.openElsewhere; });
    if (available == adapters.end()) {
        return ft::DEVICE_NOT_OPENED;
    }
    chosen = &*available;
    return ft::OK;
}

FtStatus LibftdiDriver::openAdapter(const Adapter& adapter, FtHandle& handle) {
    const QString name = QString::fromStdString(adapter.description);
    if (adapter.probe == InterfaceProbe::NoAccess) {
        report(libftdi::permissionDiagnostic(name));
        return ft::DEVICE_NOT_OPENED;
    }
    // Named before opening: detaching the kernel's serial driver takes its
    // device nodes away.
    const QString serialDevices = serialDeviceNodes(adapter.location);
    ftdi_context* context = nullptr;
    const FtStatus opened = openChannelA(adapter, name, context);
    if (opened != ft::OK) {
        return opened;
    }
    handle = keepOpen(context, adapter, name, serialDevices);
    return ft::OK;
}

QString LibftdiDriver::serialDeviceNodes(const UsbLocation& location) const {
    QStringList ttyNodes;
    for (const std::string& node :
         libftdi::ttyNodesOfInterface(system_.sysRoot, libftdi::sysfsDeviceName(location), kInterface)) {
        ttyNodes << QString::fromStdString(node);
    }
    return ttyNodes.join(QStringLiteral(", "));
}

FtStatus LibftdiDriver::openChannelA(const Adapter& adapter, const QString& name,
                                     ftdi_context*& context) const {
    context = ftdi_new();
    if (context == nullptr) {
        return ft::INSUFFICIENT_RESOURCES;
    }
    ftdi_set_interface(context, INTERFACE_A);
    context->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    const int opened = ftdi_usb_open_dev(context, adapter.device);
    if (opened < 0) {
        ftdi_free(context);
        context = nullptr;
        if (opened == -8 || (opened == -4 && accessDenied(adapter.device))) {
            report(libftdi::permissionDiagnostic(name));
        }
        return libftdi::statusFromOpenResult(opened);
    }
    return ft::OK;
}

// Replies are one to three bytes: without this the chip holds them back for
// its default 16 ms. A failure only costs latency, but is told.
void LibftdiDriver::setUpChip(libftdi::Port& port, const QString& name) const {
    std::uint8_t latencyMs =
        chip::setLowestLatencyTimer([&](std::uint8_t ms) { return port.setLatencyTimer(ms); });
    if (latencyMs == 0) {
        report(libftdi::latencyTimerDiagnostic(name, chip::kLatencyTimerChoicesMs.front()));
    }
    if (port.setEventCharacter(chip::kEventCharacter) != ft::OK) {
        report(libftdi::eventCharacterDiagnostic(name,
                                                 latencyMs == 0 ? chip::kDefaultLatencyTimerMs : latencyMs));
    }
}

FtHandle LibftdiDriver::keepOpen(ftdi_context* context, const Adapter& adapter, const QString& name,
                                 const QString& serialDevices) {
    auto open = std::make_unique<OpenPort>();
    open->port = std::make_unique<libftdi::Port>(context, adapter.probe == InterfaceProbe::KernelDriver);
    open->location = adapter.location;
    // Without root we cannot see whether another user's program had the
    // serial device open, so the operator is told that it was taken.
    if (adapter.probe == InterfaceProbe::KernelDriver && !system_.seesEveryProcess) {
        report(libftdi::takenFromKernelDriverDiagnostic(name, serialDevices));
    }
    setUpChip(*open->port, name);
    open->port->setReceiveNotifier(notify_);
    const FtHandle handle = nextHandle_++;
    ports_.emplace(handle, std::move(open));
    return handle;
}

FtStatus LibftdiDriver::setBaudRate(FtHandle handle, std::uint32_t baudRate) {
    auto* port = portOf(handle);
    return port == nullptr ? ft::INVALID_HANDLE : port->setBaudRate(baudRate);
}

FtStatus LibftdiDriver::setDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                               std::uint8_t stopBits, std::uint8_t parity) {
    auto* port = portOf(handle);
    return port == nullptr ? ft::INVALID_HANDLE : port->setDataCharacteristics(wordLength, stopBits, parity);
}

FtStatus LibftdiDriver::setFlowControl(FtHandle handle, std::uint16_t flowControl, std::uint8_t xon,
                                       std::uint8_t xoff) {
    auto* port = portOf(handle);
    return port == nullptr ? ft::INVALID_HANDLE : port->setFlowControl(flowControl, xon, xoff);
}

FtStatus LibftdiDriver::setTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                                    std::uint32_t writeTimeoutMs) {
    auto* port = portOf(handle);
    return port == nullptr ? ft::INVALID_HANDLE : port->setTimeouts(readTimeoutMs, writeTimeoutMs);
}

FtStatus LibftdiDriver::purge(FtHandle handle, std::uint32_t mask) {
    auto* port = portOf(handle);
    return port == nullptr ? ft::INVALID_HANDLE : port->purge(mask);
}

FtStatus LibftdiDriver::getQueueStatus(FtHandle handle, std::uint32_t& rxBytes) {
    auto* port = portOf(handle);
    return port == nullptr ? ft::INVALID_HANDLE : port->queueStatus(rxBytes);
}

FtStatus LibftdiDriver::read(FtHandle handle, void* buffer, std::uint32_t bytesToRead,
                             std::uint32_t& bytesRead) {
    auto* port = portOf(handle);
    if (port == nullptr) {
        bytesRead = 0;
        return ft::INVALID_HANDLE;
    }
    return port->read(buffer, bytesToRead, bytesRead);
}

FtStatus LibftdiDriver::write(FtHandle handle, const void* buffer, std::uint32_t bytesToWrite,
                              std::uint32_t& bytesWritten) {
    auto* port = portOf(handle);
    if (port == nullptr) {
        bytesWritten = 0;
        return ft::INVALID_HANDLE;
    }
    return port->write(buffer, bytesToWrite, bytesWritten);
}

FtStatus LibftdiDriver::close(FtHandle handle) {
    const auto it = ports_.find(handle);
    if (it == ports_.end()) {
        return ft::INVALID_HANDLE;
    }
    const FtStatus status = it->second->port->close();
    ports_.erase(it);
    return status;
}

bool LibftdiDriver::setReceiveNotifier(std::function<void()> notify) {
    notify_ = std::move(notify);
    for (auto& entry : ports_) {
        entry.second->port->setReceiveNotifier(notify_);
    }
    return true;
}

void LibftdiDriver::setReceiveWanted(FtHandle handle, bool wanted) {
    if (auto* port = portOf(handle)) {
        port->setReceiveWanted(wanted);
    }
}

void LibftdiDriver::setDiagnosticSink(std::function<void(const QString&)> sink) {
    diagnostics_ = std::move(sink);
}

} // namespace valve::link
