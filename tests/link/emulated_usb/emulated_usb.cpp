// Emulated FT232R and FT2232H (channel A) chips behind a stand-in libusb-1.0.so.0 with
// every function libftdi1 1.5 and the backend call.
#include "emulated_usb.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <libusb.h>
#include <utility>

static struct libusb_context {
} theContext; // one will do: it holds nothing

struct libusb_device {
    usbchip::ChipId chip;
    std::uint8_t address;
};

struct libusb_device_handle {
    libusb_device* device;
    bool autoDetach = false;
    bool detachedHere = false; // its claim took the kernel driver off
};

namespace usbchip {

namespace {

enum Request : std::uint8_t { kReset = 0, kBaudRate = 3, kData = 4, kEventChar = 6, kSetLatency = 9 };
// The reset request's values: 0 the whole port, 1 purges what the line has not
// sent yet, 2 what the line brought and the host has not read.
constexpr std::uint16_t kPurgeToLine = 1;
constexpr std::uint16_t kPurgeFromLine = 2;
constexpr unsigned char kModemStatus = 0x31; // CTS and DSR up
constexpr unsigned char kLineStatus = 0x60;  // transmitter empty

// The baud rate a divisor gives: 14 integer bits, a three-bit fraction (its top bit in the index), and on
// the H chips a switch to the 12 MHz clock; the special divisors of 2 and 3 Mbaud are left out.
unsigned baudFromDivisor(ChipType type, std::uint16_t value, std::uint16_t index) {
    static constexpr int kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
    const bool h = type == ChipType::FT2232H;
    const double base = h && (index & 0x200) != 0 ? 12e6 : 3e6;
    const unsigned fraction = (value >> 14) | ((h ? (index >> 8) & 1 : index & 1) << 2);
    return static_cast<unsigned>(std::lround(base / ((value & 0x3FFF) + kEighths[fraction] / 8.0)));
}

// A vendor request on the control endpoint: 0, or a libusb error.
int control(Chip& chip, std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
            std::uint16_t index) {
    if ((requestType & LIBUSB_REQUEST_TYPE_VENDOR) == 0 || request == chip.faults.failingRequest) {
        return LIBUSB_ERROR_PIPE;
    }
    switch (request) {
    case kReset:
        if (value != kPurgeFromLine) {
            chip.peer->dropUnsent();
        }
        if (value != kPurgeToLine) {
            chip.peer->toHost(); // and what has come in by now
            chip.rx.clear();
        }
        return 0;
    case kBaudRate:
        chip.baud = baudFromDivisor(chip.type, value, index);
        return 0;
    case kData:
        chip.frame = value;
        return 0;
    case kEventChar: // the character in the low byte, switched on by 0x100
        chip.eventChar = (value & 0x100) != 0 ? value & 0xFF : -1;
        return 0;
    case kSetLatency: // libftdi1 refuses 0 itself
        if ((value & 0xFF) < chip.lowestLatencyMs) {
            return LIBUSB_ERROR_PIPE;
        }
        chip.latencyMs = value & 0xFF;
        return 0;
    default: // the rest (flow and modem control, error characters, ...) changes nothing here
        return 0;
    }
}

// A bulk IN request: once the latency timer has run, or at once when the event character has come in,
// a packet led by two status bytes (the unit's replies fit in one). Returns 1 while not yet due.
int bulkIn(Chip& chip, unsigned char* data, int length, int* transferred) {
    Faults& faults = chip.faults;
    if (faults.inHalted || faults.ioErrors > 0) {
        return faults.inHalted ? LIBUSB_ERROR_PIPE : (--faults.ioErrors, LIBUSB_ERROR_IO);
    }
    chip.rx += chip.peer->toHost();
    const bool timerRanOut = Clock::now() >= chip.lastPacketAt + std::chrono::milliseconds(chip.latencyMs);
    // A chip that sends one-byte packets does so on its timer only.
    const bool flushes = chip.eventChar >= 0 &&
                         chip.rx.find(static_cast<char>(chip.eventChar)) != std::string::npos &&
                         faults.shortPackets == 0;
    if (faults.silent || !(timerRanOut || flushes)) {
        return 1;
    }
    chip.lastPacketAt = Clock::now();
    if (faults.shortPackets > 0) {
        --faults.shortPackets;
        data[0] = kModemStatus;
        *transferred = 1;
        return 0;
    }
    const auto payload = static_cast<std::size_t>(
        std::min({chip.packetSize(), length, static_cast<int>(chip.rx.size()) + 2}) - 2);
    data[0] = kModemStatus;
    data[1] = kLineStatus;
    std::memcpy(data + 2, chip.rx.data(), payload);
    chip.rx.erase(0, payload);
    *transferred = static_cast<int>(payload) + 2;
    return 0;
}

} // namespace

Bus& Bus::get() {
    static Bus bus;
    return bus;
}

ChipId Bus::plug(Chip chip) {
    std::lock_guard lock(mutex_);
    chip.address = nextAddress_++;
    chip.device = everyDevice_.emplace_back(new libusb_device{chips_.size(), chip.address}).get();
    chips_.push_back(std::move(chip));
    return chips_.size() - 1;
}

void Bus::change(ChipId id, const std::function<void(Chip&)>& edit) {
    std::lock_guard lock(mutex_);
    edit(chips_.at(id));
    changed.notify_all();
}

Chip Bus::look(ChipId id) {
    std::lock_guard lock(mutex_);
    return chips_.at(id);
}

void Bus::unplugAll() {
    std::lock_guard lock(mutex_);
    for (Chip& chip : chips_) {
        chip.device = nullptr;
    }
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

} // namespace usbchip

using usbchip::Bus;
using usbchip::Chip;

namespace {

// Runs `call` on the chip behind an open handle with the bus locked.
template <typename Call> int withChip(libusb_device_handle* handle, Call call) {
    auto lock = Bus::get().lock();
    return call(Bus::get().chip(handle->device->chip), lock);
}

// The same for its interface, channel A's: the only one the chips show.
template <typename Call> int withInterface(libusb_device_handle* handle, int number, Call call) {
    return withChip(handle,
                    [&](Chip& chip, auto&) { return number == 0 ? call(chip) : LIBUSB_ERROR_NOT_FOUND; });
}

// The configuration descriptor as far as libftdi1 reads it.
struct ConfigBlock {
    libusb_config_descriptor config{};
    libusb_interface channelA{};
    libusb_interface_descriptor setting{};
    libusb_endpoint_descriptor endpoint{};

    explicit ConfigBlock(const Chip& chip) {
        config.bConfigurationValue = 1;
        config.bNumInterfaces = 1;
        config.interface = &channelA;
        endpoint.bEndpointAddress = 0x81;
        endpoint.wMaxPacketSize = static_cast<std::uint16_t>(chip.packetSize());
        setting.bNumEndpoints = 1;
        setting.endpoint = &endpoint;
        channelA = {&setting, 1};
    }
};

} // namespace

extern "C" {

// clang-format off
// What libftdi1 links against for its streaming and asynchronous transfers; the backend uses none.
libusb_transfer* libusb_alloc_transfer(int) { return nullptr; }
void libusb_free_transfer(libusb_transfer*) {}
int libusb_submit_transfer(libusb_transfer*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int libusb_cancel_transfer(libusb_transfer*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int libusb_handle_events_timeout(libusb_context*, timeval*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
int libusb_handle_events_timeout_completed(libusb_context*, timeval*, int*) { return LIBUSB_ERROR_NOT_SUPPORTED; }
// libftdi1 detaches only in its detach-without-reattach mode, which the backend does not use.
int libusb_detach_kernel_driver(libusb_device_handle*, int) { return LIBUSB_ERROR_NOT_SUPPORTED; }
// Devices live as long as the bus.
libusb_device* libusb_ref_device(libusb_device* device) { return device; }
void libusb_unref_device(libusb_device*) {}
void libusb_free_config_descriptor(libusb_config_descriptor* config) { delete reinterpret_cast<ConfigBlock*>(config); }
uint8_t libusb_get_bus_number(libusb_device*) { return 1; }
uint8_t libusb_get_device_address(libusb_device* device) { return device->address; }
void libusb_exit(libusb_context*) {}
void libusb_free_device_list(libusb_device** list, int) { delete[] list; }
int libusb_get_configuration(libusb_device_handle*, int* configuration) { *configuration = 1; return 0; }
int libusb_set_configuration(libusb_device_handle*, int) { return 0; }
int libusb_init(libusb_context** context) { *context = &theContext; return LIBUSB_SUCCESS; }
int libusb_set_auto_detach_kernel_driver(libusb_device_handle* handle, int enable) { handle->autoDetach = enable != 0; return 0; }
int libusb_open(libusb_device* device, libusb_device_handle** handle) { *handle = new libusb_device_handle{device}; return 0; }
// clang-format on

ssize_t libusb_get_device_list(libusb_context* /*context*/, libusb_device*** list) {
    auto lock = Bus::get().lock();
    const auto devices = Bus::get().devices();
    *list = new libusb_device* [devices.size() + 1] {};
    std::copy(devices.begin(), devices.end(), *list);
    return static_cast<ssize_t>(devices.size());
}

int libusb_get_device_descriptor(libusb_device* device, libusb_device_descriptor* descriptor) {
    auto lock = Bus::get().lock();
    const bool h = Bus::get().chip(device->chip).type == usbchip::ChipType::FT2232H;
    // Only what libftdi1 reads: the ids, the three strings and one configuration.
    *descriptor = {};
    descriptor->idVendor = 0x0403;
    descriptor->idProduct = h ? 0x6010 : 0x6001;
    descriptor->bcdDevice = h ? 0x0700 : 0x0600;
    descriptor->iManufacturer = 1;
    descriptor->iProduct = 2;
    descriptor->iSerialNumber = 3;
    descriptor->bNumConfigurations = 1;
    return LIBUSB_SUCCESS;
}

int libusb_get_config_descriptor(libusb_device* device, uint8_t index, libusb_config_descriptor** config) {
    auto lock = Bus::get().lock();
    *config = index == 0 ? &(new ConfigBlock(Bus::get().chip(device->chip)))->config : nullptr;
    return index == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int libusb_get_port_numbers(libusb_device* device, uint8_t* numbers, int /*length*/) {
    auto lock = Bus::get().lock();
    const auto& ports = Bus::get().chip(device->chip).ports; // fewer than libftdi1 has room for
    std::copy(ports.begin(), ports.end(), numbers);
    return static_cast<int>(ports.size());
}

// With auto-detach, the kernel driver that the claim took off comes back.
int libusb_release_interface(libusb_device_handle* handle, int number) {
    auto lock = Bus::get().lock();
    Chip& chip = Bus::get().chip(handle->device->chip);
    if (number != 0 || chip.claimedBy != handle) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    chip.claimedBy = nullptr;
    chip.kernelDriver = std::exchange(handle->detachedHere, false) || chip.kernelDriver;
    return LIBUSB_SUCCESS;
}

void libusb_close(libusb_device_handle* handle) {
    libusb_release_interface(handle, 0);
    delete handle;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index, unsigned char* data,
                                       int length) {
    return withChip(handle, [&](Chip& chip, auto&) -> int {
        const std::string text = index == 1 ? "FTDI" : index == 2 ? chip.product : chip.serial; // 1..3
        const auto n = std::min(text.size(), static_cast<std::size_t>(length - 1));
        std::memcpy(data, text.data(), n);
        data[n] = '\0';
        return static_cast<int>(n);
    });
}

int libusb_kernel_driver_active(libusb_device_handle* handle, int number) {
    return withInterface(handle, number, [](Chip& chip) -> int { return chip.kernelDriver; });
}

// Called only once the interface is released and the kernel driver is off.
int libusb_attach_kernel_driver(libusb_device_handle* handle, int number) {
    return withInterface(handle, number, [](Chip& chip) -> int {
        chip.kernelDriver = true;
        return LIBUSB_SUCCESS;
    });
}

int libusb_claim_interface(libusb_device_handle* handle, int number) {
    return withInterface(handle, number, [&](Chip& chip) -> int {
        if ((chip.claimedBy != nullptr && chip.claimedBy != handle) || chip.claimedElsewhere ||
            (chip.kernelDriver && !handle->autoDetach)) {
            return LIBUSB_ERROR_BUSY;
        }
        handle->detachedHere = std::exchange(chip.kernelDriver, false) || handle->detachedHere;
        chip.claimedBy = handle;
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
                            uint16_t value, uint16_t index, unsigned char* /*data*/, uint16_t /*length*/,
                            unsigned int /*timeout*/) {
    return withChip(handle, [&](Chip& chip, auto&) -> int {
        Bus::get().changed.notify_all(); // a new latency period, say
        return usbchip::control(chip, requestType, request, value, index);
    });
}

// An IN transfer waits for the chip's next packet, with the bus unlocked.
int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                         int length, int* transferred, unsigned int timeout) {
    *transferred = 0;
    const auto deadline = usbchip::Clock::now() + std::chrono::milliseconds(timeout); // never 0 here
    return withChip(handle, [&](Chip& chip, std::unique_lock<std::mutex>& lock) -> int {
        if ((endpoint & LIBUSB_ENDPOINT_IN) == 0) {
            if (chip.faults.writeTimesOut) {
                return LIBUSB_ERROR_TIMEOUT;
            }
            if (chip.baud == 19200 && chip.frame == 8) { // the unit hears only 19200 8N1
                chip.peer->fromHost({reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)});
            }
            *transferred = length;
            return 0;
        }
        for (;;) {
            if (const int result = usbchip::bulkIn(chip, data, length, transferred); result <= 0) {
                return result;
            }
            if (usbchip::Clock::now() >= deadline) {
                return LIBUSB_ERROR_TIMEOUT;
            }
            auto due = std::min(chip.lastPacketAt + std::chrono::milliseconds(chip.latencyMs), deadline);
            if (const auto next = chip.peer->nextByteAt(); next && chip.eventChar >= 0) {
                due = std::min(due, *next); // it may be the event character
            }
            Bus::get().changed.wait_until(lock, chip.faults.silent ? deadline : due);
        }
    });
}

} // extern "C"
