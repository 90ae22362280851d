// A stand-in for libusb-1.0.so.0 that serves the emulated bus: every function
// libftdi1 1.5 imports (the asynchronous ones only as stubs that fail) and the
// few more the libftdi1 backend calls. A device that has been unplugged fails
// every call with LIBUSB_ERROR_NO_DEVICE, as libusb does for a vanished one.
#include "emulated_usb.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <libusb.h>
#include <utility>

struct libusb_context {};

struct libusb_device {
    usbchip::ChipId chip;
    std::uint8_t address;
    int refs = 1; // the bus holds one while the device is plugged in
    bool gone = false;
};

struct libusb_device_handle {
    libusb_device* device;
    bool autoDetach = false;
    std::array<bool, 2> detachedHere{}; // its claim took the kernel driver off
};

namespace usbchip {

namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kFtdiVendor = 0x0403;
constexpr int kOtherProcess = 4242; // the pid that holds a /dev/ttyUSB open elsewhere

std::string deviceName(const Chip& chip) {
    std::string name = "1-";
    for (std::size_t i = 0; i < chip.ports.size(); ++i) {
        name += (i == 0 ? "" : ".") + std::to_string(chip.ports[i]);
    }
    return name;
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text << '\n';
}

} // namespace

Bus& Bus::get() {
    static Bus bus;
    return bus;
}

Bus::Bus() : root_(fs::temp_directory_path() / ("emulated-usb-" + std::to_string(::getpid()))) {
    sysRoot_ = root_ / "sys";
    procRoot_ = root_ / "proc";
    fs::create_directories(sysRoot_ / "bus/usb/devices");
    fs::create_directories(procRoot_);
}

Bus::~Bus() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

ChipId Bus::plug(Chip chip) {
    std::lock_guard lock(mutex_);
    chips_.push_back(std::move(chip));
    attach(chips_.size() - 1);
    return chips_.size() - 1;
}

void Bus::unplug(ChipId id) {
    std::lock_guard lock(mutex_);
    detach(id);
}

void Bus::replug(ChipId id) {
    std::lock_guard lock(mutex_);
    detach(id);
    attach(id);
}

void Bus::change(ChipId id, const std::function<void(Chip&)>& edit) {
    std::lock_guard lock(mutex_);
    edit(chips_.at(id));
    describe(id);
    changed.notify_all();
}

Chip Bus::look(ChipId id) {
    std::lock_guard lock(mutex_);
    return chips_.at(id);
}

void Bus::unplugAll() {
    std::lock_guard lock(mutex_);
    for (ChipId id = 0; id < chips_.size(); ++id) {
        detach(id);
    }
}

void Bus::attach(ChipId id) {
    Chip& chip = chips_.at(id);
    chip.address = nextAddress_++;
    chip.device = new libusb_device{id, chip.address};
    chip.line = {};
    chip.latencyMs = 16;
    chip.rx.clear();
    chip.claimedBy = {};
    describe(id);
}

void Bus::detach(ChipId id) {
    Chip& chip = chips_.at(id);
    if (chip.device == nullptr) {
        return;
    }
    chip.device->gone = true;
    libusb_unref_device(chip.device);
    chip.device = nullptr;
    describe(id);
    changed.notify_all();
}

std::vector<libusb_device*> Bus::devices() const {
    std::vector<libusb_device*> list;
    for (const Chip& chip : chips_) {
        if (chip.device != nullptr) {
            list.push_back(chip.device);
        }
    }
    std::sort(list.begin(), list.end(), [](auto* a, auto* b) { return a->address > b->address; });
    return list;
}

// sysfs: the device with its strings, each interface with the serial device
// ftdi_sio made for it while bound; /proc: the process that has one open.
void Bus::describe(ChipId id) {
    const Chip& chip = chips_.at(id);
    const fs::path devices = sysRoot_ / "bus/usb/devices";
    const std::string name = deviceName(chip);
    fs::remove_all(devices / name);
    fs::remove_all(devices / (name + ":1.0"));
    fs::remove_all(devices / (name + ":1.1"));
    fs::remove_all(procRoot_ / std::to_string(kOtherProcess + id));
    if (chip.device == nullptr) {
        return;
    }
    fs::create_directories(devices / name);
    writeFile(devices / name / "product", chip.product);
    writeFile(devices / name / "serial", chip.serial);
    writeFile(devices / name / "idVendor", "0403");
    for (int i = 0; i < chip.interfaces(); ++i) {
        const fs::path interface = devices / (name + ":1." + std::to_string(i));
        fs::create_directories(interface);
        if (chip.kernelDriver[static_cast<std::size_t>(i)]) {
            fs::create_directories(interface /
                                   ("ttyUSB" + std::to_string(2 * id + static_cast<std::size_t>(i))));
            fs::create_directory_symlink("../../../../bus/usb/drivers/ftdi_sio", interface / "driver");
        }
    }
    if (chip.ttyOpenElsewhere && chip.kernelDriver[0]) {
        const fs::path fd = procRoot_ / std::to_string(kOtherProcess + id) / "fd";
        fs::create_directories(fd);
        fs::create_symlink("/dev/ttyUSB" + std::to_string(2 * id), fd / "3");
    }
}

} // namespace usbchip

// ---------------------------------------------------------------- libusb ---

using usbchip::Bus;
using usbchip::Chip;

namespace {

// Runs `call` on the chip behind an open handle with the bus locked; a device
// that has vanished fails as libusb fails for one.
template <typename Call> int withChip(libusb_device_handle* handle, Call call) {
    auto lock = Bus::get().lock();
    return handle->device->gone ? LIBUSB_ERROR_NO_DEVICE : call(Bus::get().chip(handle->device->chip), lock);
}

bool validInterface(const Chip& chip, int number) {
    return number >= 0 && number < chip.interfaces();
}

struct ConfigBlock { // one allocation for the whole configuration descriptor
    libusb_config_descriptor config{};
    libusb_interface interfaces[2]{};
    libusb_interface_descriptor settings[2]{};
    libusb_endpoint_descriptor endpoints[2][2]{};
};

} // namespace

extern "C" {

int libusb_init(libusb_context** context) {
    if (context != nullptr) {
        *context = new libusb_context;
    }
    return LIBUSB_SUCCESS;
}

void libusb_exit(libusb_context* context) {
    delete context;
}

ssize_t libusb_get_device_list(libusb_context* /*context*/, libusb_device*** list) {
    auto lock = Bus::get().lock();
    const auto devices = Bus::get().devices();
    *list = new libusb_device* [devices.size() + 1] {};
    for (std::size_t i = 0; i < devices.size(); ++i) {
        (*list)[i] = libusb_ref_device(devices[i]);
    }
    return static_cast<ssize_t>(devices.size());
}

void libusb_free_device_list(libusb_device** list, int unref) {
    auto lock = Bus::get().lock();
    for (libusb_device** device = list; unref != 0 && *device != nullptr; ++device) {
        libusb_unref_device(*device);
    }
    delete[] list;
}

// Reference counts change with the bus locked.
libusb_device* libusb_ref_device(libusb_device* device) {
    ++device->refs;
    return device;
}

void libusb_unref_device(libusb_device* device) {
    if (--device->refs == 0) {
        delete device;
    }
}

int libusb_get_device_descriptor(libusb_device* device, libusb_device_descriptor* descriptor) {
    auto lock = Bus::get().lock();
    const bool h = Bus::get().chip(device->chip).type == usbchip::ChipType::FT2232H;
    *descriptor = {LIBUSB_DT_DEVICE_SIZE,
                   LIBUSB_DT_DEVICE,
                   0x0200,
                   0,
                   0,
                   0,
                   static_cast<uint8_t>(h ? 64 : 8),
                   usbchip::kFtdiVendor,
                   static_cast<uint16_t>(h ? 0x6010 : 0x6001),
                   static_cast<uint16_t>(h ? 0x0700 : 0x0600),
                   1,
                   2,
                   3,
                   1};
    return LIBUSB_SUCCESS;
}

// One configuration; per interface a bulk IN (0x81, 0x83) and OUT (0x02, 0x04) endpoint.
int libusb_get_config_descriptor(libusb_device* device, uint8_t index, libusb_config_descriptor** config) {
    if (index != 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    auto lock = Bus::get().lock();
    const Chip& chip = Bus::get().chip(device->chip);
    auto* block = new ConfigBlock;
    block->config = {
        LIBUSB_DT_CONFIG_SIZE, LIBUSB_DT_CONFIG, 0, static_cast<uint8_t>(chip.interfaces()), 1, 0, 0x80, 45,
        block->interfaces,     nullptr,          0};
    for (int i = 0; i < chip.interfaces(); ++i) {
        for (int e = 0; e < 2; ++e) {
            block->endpoints[i][e] = {LIBUSB_DT_ENDPOINT_SIZE,
                                      LIBUSB_DT_ENDPOINT,
                                      static_cast<uint8_t>(e == 0 ? 0x81 + 2 * i : 0x02 + 2 * i),
                                      LIBUSB_TRANSFER_TYPE_BULK,
                                      static_cast<uint16_t>(chip.packetSize()),
                                      0,
                                      0,
                                      0,
                                      nullptr,
                                      0};
        }
        block->settings[i] = {LIBUSB_DT_INTERFACE_SIZE,
                              LIBUSB_DT_INTERFACE,
                              static_cast<uint8_t>(i),
                              0,
                              2,
                              LIBUSB_CLASS_VENDOR_SPEC,
                              LIBUSB_CLASS_VENDOR_SPEC,
                              LIBUSB_CLASS_VENDOR_SPEC,
                              2,
                              block->endpoints[i],
                              nullptr,
                              0};
        block->interfaces[i] = {&block->settings[i], 1};
    }
    *config = &block->config;
    return LIBUSB_SUCCESS;
}

void libusb_free_config_descriptor(libusb_config_descriptor* config) {
    delete reinterpret_cast<ConfigBlock*>(config); // the block's first member
}

uint8_t libusb_get_bus_number(libusb_device* /*device*/) {
    return 1;
}

uint8_t libusb_get_device_address(libusb_device* device) {
    return device->address;
}

int libusb_get_port_numbers(libusb_device* device, uint8_t* numbers, int length) {
    auto lock = Bus::get().lock();
    const auto& ports = Bus::get().chip(device->chip).ports;
    if (static_cast<int>(ports.size()) > length) {
        return LIBUSB_ERROR_OVERFLOW;
    }
    std::copy(ports.begin(), ports.end(), numbers);
    return static_cast<int>(ports.size());
}

int libusb_open(libusb_device* device, libusb_device_handle** handle) {
    auto lock = Bus::get().lock();
    if (device->gone || Bus::get().chip(device->chip).noPermission) {
        return device->gone ? LIBUSB_ERROR_NO_DEVICE : LIBUSB_ERROR_ACCESS;
    }
    *handle = new libusb_device_handle{libusb_ref_device(device)};
    return LIBUSB_SUCCESS;
}

// With auto-detach, the kernel driver that the claim took off comes back.
int libusb_release_interface(libusb_device_handle* handle, int number) {
    auto lock = Bus::get().lock();
    Chip& chip = Bus::get().chip(handle->device->chip);
    if (!validInterface(chip, number) || chip.claimedBy[static_cast<std::size_t>(number)] != handle) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    chip.claimedBy[static_cast<std::size_t>(number)] = nullptr;
    if (handle->device->gone) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (std::exchange(handle->detachedHere[static_cast<std::size_t>(number)], false)) {
        chip.kernelDriver[static_cast<std::size_t>(number)] = true;
        Bus::get().describe(handle->device->chip);
    }
    return LIBUSB_SUCCESS;
}

void libusb_close(libusb_device_handle* handle) {
    libusb_release_interface(handle, 0);
    libusb_release_interface(handle, 1);
    auto lock = Bus::get().lock();
    libusb_unref_device(handle->device);
    delete handle;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index, unsigned char* data,
                                       int length) {
    return withChip(handle, [&](Chip& chip, auto&) -> int {
        const std::string texts[] = {"FTDI", chip.product, chip.serial};
        if (index < 1 || index > 3 || length < 1) {
            return LIBUSB_ERROR_PIPE;
        }
        const auto n = std::min(texts[index - 1].size(), static_cast<std::size_t>(length - 1));
        std::memcpy(data, texts[index - 1].data(), n);
        data[n] = '\0';
        return static_cast<int>(n);
    });
}

int libusb_kernel_driver_active(libusb_device_handle* handle, int number) {
    return withChip(handle, [&](Chip& chip, auto&) -> int {
        return validInterface(chip, number) && chip.kernelDriver[static_cast<std::size_t>(number)] ? 1 : 0;
    });
}

int libusb_detach_kernel_driver(libusb_device_handle* handle, int number) {
    return withChip(handle, [&](Chip& chip, auto&) -> int {
        if (!validInterface(chip, number) || !chip.kernelDriver[static_cast<std::size_t>(number)]) {
            return LIBUSB_ERROR_NOT_FOUND;
        }
        chip.kernelDriver[static_cast<std::size_t>(number)] = false;
        chip.detaches += number == 0 ? 1 : 0;
        Bus::get().describe(handle->device->chip);
        return LIBUSB_SUCCESS;
    });
}

int libusb_attach_kernel_driver(libusb_device_handle* handle, int number) {
    return withChip(handle, [&](Chip& chip, auto&) -> int {
        const auto i = static_cast<std::size_t>(number);
        if (!validInterface(chip, number) || chip.claimedBy[i] != nullptr || chip.kernelDriver[i]) {
            return LIBUSB_ERROR_BUSY;
        }
        chip.kernelDriver[i] = true;
        Bus::get().describe(handle->device->chip);
        return LIBUSB_SUCCESS;
    });
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle* handle, int enable) {
    handle->autoDetach = enable != 0;
    return LIBUSB_SUCCESS;
}

int libusb_get_configuration(libusb_device_handle* handle, int* configuration) {
    *configuration = 1;
    return withChip(handle, [](Chip&, auto&) { return 0; });
}

int libusb_set_configuration(libusb_device_handle* handle, int /*configuration*/) {
    return withChip(handle, [](Chip&, auto&) { return 0; });
}

// Busy when another handle or program holds it, or the kernel driver does
// and the handle may not take it off.
int libusb_claim_interface(libusb_device_handle* handle, int number) {
    return withChip(handle, [&](Chip& chip, auto&) -> int {
        const auto i = static_cast<std::size_t>(number);
        if (!validInterface(chip, number)) {
            return LIBUSB_ERROR_NOT_FOUND;
        }
        if ((chip.claimedBy[i] != nullptr && chip.claimedBy[i] != handle) ||
            (i == 0 && chip.claimedElsewhere) || (chip.kernelDriver[i] && !handle->autoDetach)) {
            return LIBUSB_ERROR_BUSY;
        }
        if (chip.kernelDriver[i]) {
            chip.kernelDriver[i] = false;
            handle->detachedHere[i] = true;
            chip.detaches += i == 0 ? 1 : 0;
            Bus::get().describe(handle->device->chip);
        }
        chip.claimedBy[i] = handle;
        return LIBUSB_SUCCESS;
    });
}

int libusb_clear_halt(libusb_device_handle* handle, unsigned char /*endpoint*/) {
    return withChip(handle, [](Chip& chip, auto&) -> int {
        chip.faults.inHalted = chip.faults.haltSticks;
        return LIBUSB_SUCCESS;
    });
}

int libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int /*timeout*/) {
    return withChip(handle, [&](Chip& chip, auto&) -> int {
        Bus::get().changed.notify_all(); // a new latency period, say
        return chip.control(requestType, request, value, index, data, length);
    });
}

// An IN transfer waits for the chip's next packet, with the bus unlocked.
int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                         int length, int* transferred, unsigned int timeout) {
    *transferred = 0;
    const auto deadline =
        usbchip::Clock::now() + std::chrono::milliseconds(timeout == 0 ? 86'400'000 : timeout);
    return withChip(handle, [&](Chip& chip, std::unique_lock<std::mutex>& lock) -> int {
        if ((endpoint & LIBUSB_ENDPOINT_IN) == 0) {
            return chip.bulkOut(data, length, transferred);
        }
        for (;;) {
            if (handle->device->gone) {
                return LIBUSB_ERROR_NO_DEVICE;
            }
            if (const int fault = chip.inFault()) {
                return fault;
            }
            const auto due = chip.inDue();
            if (usbchip::Clock::now() >= due) {
                return chip.bulkIn(data, length, transferred);
            }
            if (usbchip::Clock::now() >= deadline) {
                return LIBUSB_ERROR_TIMEOUT;
            }
            Bus::get().changed.wait_until(lock, std::min(due, deadline));
        }
    });
}

// libftdi1's streaming and asynchronous transfers; the backend uses none.
libusb_transfer* libusb_alloc_transfer(int /*isoPackets*/) {
    return nullptr;
}

void libusb_free_transfer(libusb_transfer* /*transfer*/) {}

int libusb_submit_transfer(libusb_transfer* /*transfer*/) {
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_cancel_transfer(libusb_transfer* /*transfer*/) {
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_handle_events_timeout(libusb_context* /*context*/, timeval* /*tv*/) {
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_handle_events_timeout_completed(libusb_context* /*context*/, timeval* /*tv*/, int* /*completed*/) {
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

} // extern "C"
