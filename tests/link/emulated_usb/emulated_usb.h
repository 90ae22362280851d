#pragma once

// An emulated USB bus of FTDI chips, each with a peer on its serial line. It
// has no sysfs or /proc trees: the real-stack test has the kernel's view.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct libusb_device;

namespace usbchip {

using Clock = std::chrono::steady_clock;

// Where a backend on the bus is to look for sysfs and /proc: nowhere.
inline const std::filesystem::path kNoSystemTree = "/nonexistent/emulated-usb";

enum class ChipType { FT232R, FT2232H }; // 0403:6001, 0403:6010

// The far end of a chip's serial line, called with the bus locked.
class SerialPeer {
public:
    virtual ~SerialPeer() = default;
    virtual void fromHost(std::string_view bytes) = 0; // they go out from now on
    virtual std::string toHost() = 0;                  // what has come in on the line by now
    virtual void dropUnsent() = 0;                     // the chip's transmit buffer is purged
    // When the next byte may come in on the line; none: nothing is on its way.
    virtual std::optional<Clock::time_point> nextByteAt() { return std::nullopt; }
};

// Faults a chip shows until a test clears them.
struct Faults {
    int failingRequest = -1; // this vendor request fails (LIBUSB_ERROR_PIPE)
    bool silent = false;     // bulk IN requests are never answered
    bool writeTimesOut = false;
    bool inHalted = false;   // the IN endpoint stalls until its halt is cleared ...
    bool haltSticks = false; // ... or for good
    int ioErrors = 0;        // the next bulk IN transfers fail with LIBUSB_ERROR_IO
    int shortPackets = 0;    // the next IN packets are one byte long
};

struct Chip {
    // What the adapter is and where it sits (bus 1).
    ChipType type = ChipType::FT232R;
    std::string product, serial;
    std::vector<std::uint8_t> ports;
    std::shared_ptr<SerialPeer> peer;
    // The system around it.
    bool kernelDriver = true;      // ftdi_sio bound to its interface (channel A's: the only one shown)
    bool claimedElsewhere = false; // another program's libusb holds it
    Faults faults;
    // What the host told it since it was plugged in, and what it holds.
    unsigned baud = 9600;
    std::uint16_t frame = 8; // the data request's value: 8 data bits, no parity, one stop bit
    int latencyMs = 16;
    int lowestLatencyMs = 1;         // a latency timer below it is refused
    int eventChar = -1;              // flushes the chip's buffer when it comes in; -1: none
    const void* claimedBy = nullptr; // handle that claimed the interface
    std::uint8_t address = 0;
    std::string rx; // received from the line, not yet sent to the host (the unit's replies never fill it)
    Clock::time_point lastPacketAt{};
    libusb_device* device = nullptr; // while plugged in

    [[nodiscard]] int packetSize() const { return type == ChipType::FT2232H ? 512 : 64; }
};

using ChipId = std::size_t;

class Bus {
public:
    static Bus& get();

    ChipId plug(Chip chip);
    void change(ChipId id, const std::function<void(Chip&)>& edit);
    [[nodiscard]] Chip look(ChipId id);
    void unplugAll(); // once nothing holds them open: the chips stay known, but no longer listed
    [[nodiscard]] std::unique_lock<std::mutex> lock() { return std::unique_lock(mutex_); }

    // --- for the stand-in libusb, with the bus locked ---
    Chip& chip(ChipId id) { return chips_.at(id); }
    [[nodiscard]] std::vector<libusb_device*> devices() const; // newest first, as libusb lists them
    std::condition_variable changed;

private:
    Bus() = default;

    std::mutex mutex_;
    std::vector<Chip> chips_;
    std::vector<std::unique_ptr<libusb_device>> everyDevice_; // devices live as long as the bus
    std::uint8_t nextAddress_ = 2;
};

} // namespace usbchip
