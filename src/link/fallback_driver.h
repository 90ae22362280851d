#pragma once

#include "ftdi_driver.h"

#include <filesystem>
#include <memory>
#include <set>

namespace valve::link {

// FTDI's D2XX library with libftdi1 beside it for what D2XX cannot open: an
// adapter whose interface the kernel's serial driver ftdi_sio holds (Debian
// binds it to every FTDI adapter). Devices are listed by D2XX. When its open
// fails and sysfs shows the described adapter bound to ftdi_sio, the events
// log is told so with the fix, and libftdi1 opens it; every later call on that
// handle goes to libftdi1.
class FallbackDriver final : public FtdiDriver {
public:
    FallbackDriver(std::unique_ptr<FtdiDriver> d2xx, std::unique_ptr<FtdiDriver> libftdi,
                   std::filesystem::path sysRoot = "/sys");

    FtStatus createDeviceInfoList(std::uint32_t& count) override;
    FtStatus getDeviceInfoDetail(std::uint32_t index, DeviceInfoDetail& detail) override;
    FtStatus openEx(const char* description, std::uint32_t flags, FtHandle& handle) override;
    FtStatus setBaudRate(FtHandle handle, std::uint32_t baudRate) override;
    FtStatus setDataCharacteristics(FtHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                    std::uint8_t parity) override;
    FtStatus setFlowControl(FtHandle handle, std::uint16_t flowControl, std::uint8_t xon,
                            std::uint8_t xoff) override;
    FtStatus setTimeouts(FtHandle handle, std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) override;
    FtStatus purge(FtHandle handle, std::uint32_t mask) override;
    FtStatus getQueueStatus(FtHandle handle, std::uint32_t& rxBytes) override;
    FtStatus read(FtHandle handle, void* buffer, std::uint32_t bytesToRead,
                  std::uint32_t& bytesRead) override;
    FtStatus write(FtHandle handle, const void* buffer, std::uint32_t bytesToWrite,
                   std::uint32_t& bytesWritten) override;
    FtStatus close(FtHandle handle) override;

    // True only when both can notify; otherwise the link polls, which serves both.
    bool setReceiveNotifier(std::function<void()> notify) override;
    void setReceiveWanted(FtHandle handle, bool wanted) override;
    void setDiagnosticSink(std::function<void(const QString&)> sink) override;

private:
    FtdiDriver& driverOf(FtHandle handle);

    std::unique_ptr<FtdiDriver> d2xx_;
    std::unique_ptr<FtdiDriver> libftdi_;
    std::filesystem::path sysRoot_;
    std::set<FtHandle> onLibftdi_; // handles libftdi1 gave out (D2XX's are pointers, never this small)
    std::function<void(const QString&)> diagnostics_;
};

} // namespace valve::link
