#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>

namespace valve::link {

// Status numbers of the D2XX driver interface; every driver call returns one.
using FtStatus = std::uint32_t;
// Opaque handle of an open adapter; 0 means "no handle".
using FtHandle = std::uintptr_t;

namespace ft {
inline constexpr FtStatus OK = 0;
inline constexpr FtStatus INVALID_HANDLE = 1;
inline constexpr FtStatus DEVICE_NOT_FOUND = 2;
inline constexpr FtStatus DEVICE_NOT_OPENED = 3;
inline constexpr FtStatus IO_ERROR = 4;
inline constexpr FtStatus INSUFFICIENT_RESOURCES = 5;
inline constexpr FtStatus INVALID_PARAMETER = 6;
inline constexpr FtStatus INVALID_BAUD_RATE = 7;
inline constexpr FtStatus DEVICE_NOT_OPENED_FOR_ERASE = 8;
inline constexpr FtStatus DEVICE_NOT_OPENED_FOR_WRITE = 9;
inline constexpr FtStatus FAILED_TO_WRITE_DEVICE = 10;
inline constexpr FtStatus EEPROM_READ_FAILED = 11;
inline constexpr FtStatus EEPROM_WRITE_FAILED = 12;
inline constexpr FtStatus EEPROM_ERASE_FAILED = 13;
inline constexpr FtStatus EEPROM_NOT_PRESENT = 14;
inline constexpr FtStatus EEPROM_NOT_PROGRAMMED = 15;
inline constexpr FtStatus INVALID_ARGS = 16;
inline constexpr FtStatus NOT_SUPPORTED = 17;
inline constexpr FtStatus OTHER_ERROR = 18;

inline constexpr std::uint32_t OPEN_BY_DESCRIPTION = 2;
inline constexpr std::uint32_t FLAGS_OPENED = 1;
inline constexpr std::uint32_t PURGE_RX = 1;
inline constexpr std::uint32_t PURGE_TX = 2;
inline constexpr std::uint8_t BITS_8 = 8;
inline constexpr std::uint8_t STOP_BITS_1 = 0;
inline constexpr std::uint8_t PARITY_NONE = 0;
inline constexpr std::uint16_t FLOW_NONE = 0;
} // namespace ft

inline constexpr std::size_t kDescriptionBufferSize = 256;

// The outputs of FT_GetDeviceInfoDetail. Serial number and description are
// NUL-terminated 8-bit strings in 256-byte buffers, as the driver writes them.
struct DeviceInfoDetail {
    std::uint32_t flags = 0;
    std::uint32_t type = 0;
    std::uint32_t id = 0;
    std::uint32_t locationId = 0;
    std::array<char, kDescriptionBufferSize> serialNumber{};
    std::array<char, kDescriptionBufferSize> description{};
    FtHandle handle = 0;
};

// The twelve driver operations the link uses, with D2XX semantics and status
// numbers. Backends: the D2XX library loaded at run time, libftdi1, and the
// simulated unit. All calls are made from the program's one logic thread.
class FtdiDriver {
public:
    FtdiDriver() = default;
    FtdiDriver(const FtdiDriver&) = delete;
    FtdiDriver& operator=(const FtdiDriver&) = delete;
    virtual ~FtdiDriver() = default;

    virtual FtStatus createDeviceInfoList(std::uint32_t& count) = 0;
    virtual FtStatus getDeviceInfoDetail(std::uint32_t index, DeviceInfoDetail& detail) = 0;
    virtual FtStatus openEx(const char* description, std::uint32_t flags, FtHandle& handle) = 0;
    virtual FtStatus setBaudRate(FtHandle handle, std::uint32_t baudRate) = 0;
    virtual FtStatus setDataCharacteristics(FtHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                            std::uint8_t parity) = 0;
    virtual FtStatus setFlowControl(FtHandle handle, std::uint16_t flowControl, std::uint8_t xon,
                                    std::uint8_t xoff) = 0;
    virtual FtStatus setTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                                 std::uint32_t writeTimeoutMs) = 0;
    virtual FtStatus purge(FtHandle handle, std::uint32_t mask) = 0;
    virtual FtStatus getQueueStatus(FtHandle handle, std::uint32_t& rxBytes) = 0;
    virtual FtStatus read(FtHandle handle, void* buffer, std::uint32_t bytesToRead,
                          std::uint32_t& bytesRead) = 0;
    virtual FtStatus write(FtHandle handle, const void* buffer, std::uint32_t bytesToWrite,
                           std::uint32_t& bytesWritten) = 0;
    virtual FtStatus close(FtHandle handle) = 0;

    // Asks the backend to call `notify` whenever received bytes may have become
    // waiting. The call may come from a backend thread. Returns false when the
    // backend cannot tell; the link then polls the queue on a short timer.
    // Taken by value: the backends that can notify keep it.
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    virtual bool setReceiveNotifier(std::function<void()> /*notify*/) { return false; }

    // Whether the link waits for received bytes on `handle`: from a command
    // line's write until its reply has been taken, and a short grace after.
    // A backend that reads from the adapter only then lets the processor sleep
    // while the adapter is idle (the chip keeps what comes meanwhile); when
    // switched on again it first fetches what the chip kept, so the queue
    // status is complete once the call returns. Before the first call the
    // backend reads all the time. Backends that always read ignore it.
    virtual void setReceiveWanted(FtHandle /*handle*/, bool /*wanted*/) {}

    // Where a backend reports what the operator must know and no status number
    // can say (an adapter the user has no permission to open, say).
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    virtual void setDiagnosticSink(std::function<void(const QString&)> /*sink*/) {}
};

} // namespace valve::link
