// What an FTDI FT232R or FT2232H (channel A) does with the requests of its
// host, as FTDI's data sheets and application notes describe it.
#include "emulated_usb.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <libusb.h>

namespace usbchip {

namespace {

enum Request : std::uint8_t {
    kReset = 0,
    kModemControl = 1,
    kFlowControl = 2,
    kBaudRate = 3,
    kData = 4,
    kPollModemStatus = 5,
    kEventChar = 6,
    kErrorChar = 7,
    kSetLatency = 9,
    kGetLatency = 10,
    kBitMode = 11,
};

// The reset request's values: the whole port, or one of its buffers.
constexpr std::uint16_t kResetPort = 0;
constexpr std::uint16_t kPurgeToLine = 1;   // what the host sent and the line has not
constexpr std::uint16_t kPurgeFromLine = 2; // what the line brought and the host has not

// Modem status (CTS and DSR up) and line status (transmitter empty); bit 1
// of the line status reports a receive buffer overrun.
constexpr unsigned char kModemStatus = 0x31;
constexpr unsigned char kLineStatus = 0x60;
constexpr unsigned char kOverrun = 0x02;

// The baud rate a divisor gives: 14 integer bits, a three-bit fraction (its
// top bit in the index), and on the H chips a switch to the 12 MHz clock.
unsigned baudFromDivisor(ChipType type, std::uint16_t value, std::uint16_t index) {
    static constexpr int kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
    const bool h = type == ChipType::FT2232H;
    const double base = h && (index & 0x200) != 0 ? 12e6 : 3e6;
    const unsigned fraction = (value >> 14) | ((h ? (index >> 8) & 1 : index & 1) << 2);
    const unsigned integer = value & 0x3FFF;
    if (integer <= 1 && fraction == 0) { // the two special divisors, 1 and 1.5
        return static_cast<unsigned>(integer == 0 ? base : base / 1.5);
    }
    return static_cast<unsigned>(std::lround(base / (integer + kEighths[fraction] / 8.0)));
}

} // namespace

int Chip::control(std::uint8_t requestType, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                  unsigned char* data, std::uint16_t length) {
    const bool vendor = (requestType & LIBUSB_REQUEST_TYPE_VENDOR) != 0;
    const bool toHost = (requestType & LIBUSB_ENDPOINT_IN) != 0;
    if (!vendor || request == faults.failingRequest) {
        return LIBUSB_ERROR_PIPE;
    }
    switch (request) {
    case kReset:
        if (value == kResetPort || value == kPurgeToLine) {
            peer->dropUnsent();
        }
        if (value == kResetPort || value == kPurgeFromLine) {
            fetchFromLine();
            rx.clear();
            overrun = false;
        }
        return 0;
    case kFlowControl:
        line.flowControl = index >> 8;
        return 0;
    case kBaudRate:
        line.baud = baudFromDivisor(type, value, index);
        return 0;
    case kData:
        line.dataBits = value & 0xFF;
        line.parity = (value >> 8) & 7;
        line.stopBits = (value >> 11) & 3;
        return 0;
    case kPollModemStatus:
        if (!toHost || length < 2) {
            return LIBUSB_ERROR_PIPE;
        }
        data[0] = kModemStatus;
        data[1] = kLineStatus | (overrun ? kOverrun : 0);
        return 2;
    case kSetLatency:
        if ((value & 0xFF) == 0) {
            return LIBUSB_ERROR_PIPE;
        }
        latencyMs = value & 0xFF;
        return 0;
    case kGetLatency:
        if (!toHost || length < 1) {
            return LIBUSB_ERROR_PIPE;
        }
        data[0] = static_cast<unsigned char>(latencyMs);
        return 1;
    case kModemControl:
    case kEventChar:
    case kErrorChar:
    case kBitMode:
        return 0;
    default:
        return LIBUSB_ERROR_PIPE;
    }
}

int Chip::bulkOut(const unsigned char* data, int length, int* transferred) {
    if (faults.writeTimesOut) {
        return LIBUSB_ERROR_TIMEOUT;
    }
    peer->fromHost({reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)}, line);
    *transferred = length;
    return 0;
}

int Chip::inFault() {
    if (faults.inHalted) {
        return LIBUSB_ERROR_PIPE;
    }
    if (faults.ioErrors > 0) {
        --faults.ioErrors;
        return LIBUSB_ERROR_IO;
    }
    return 0;
}

// The latency timer: a packet goes to a waiting host one latency period after
// the one before it, with what has come in by then or with the status alone.
Clock::time_point Chip::inDue() const {
    return faults.silent ? Clock::time_point::max() : lastPacketAt + std::chrono::milliseconds(latencyMs);
}

void Chip::fetchFromLine() {
    std::string incoming = peer->toHost();
    const std::size_t room = rxCapacity() - rx.size();
    if (incoming.size() > room) { // the rest is lost, and the host is told so
        incoming.resize(room);
        overrun = true;
    }
    rx += incoming;
}

int Chip::bulkIn(unsigned char* data, int length, int* transferred) {
    lastPacketAt = Clock::now();
    if (faults.shortPackets > 0) {
        --faults.shortPackets;
        data[0] = kModemStatus;
        *transferred = 1;
        return 0;
    }
    fetchFromLine();
    const int payloadSize = packetSize() - 2;
    int at = 0;
    // Full packets follow each other; the first short one ends the transfer.
    while (at + 2 <= length) {
        const int payload = std::min({payloadSize, static_cast<int>(rx.size()), length - at - 2});
        data[at] = kModemStatus;
        data[at + 1] = kLineStatus | (overrun ? kOverrun : 0);
        std::memcpy(data + at + 2, rx.data(), static_cast<std::size_t>(payload));
        rx.erase(0, static_cast<std::size_t>(payload));
        overrun = false;
        at += 2 + payload;
        if (payload < payloadSize) {
            break;
        }
    }
    *transferred = at;
    return 0;
}

} // namespace usbchip
