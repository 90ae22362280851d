#pragma once

#include "link/ftdi_driver.h"

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace valve::link {

class LibftdiDriver;

// FTDI's D2XX library with libftdi1 beside it for what D2XX cannot reach: an
// adapter whose interface the kernel's serial driver ftdi_sio holds (Debian
// binds it to every FTDI adapter). D2XX lists such an adapter flagged open,
// with no description, serial number or type, and cannot open it.
//
// The list is D2XX's, with each of those entries replaced by an adapter that
// libftdi1 finds bound to ftdi_sio (or has open for us), taken in USB tree
// order: its real description and serial number, flagged open only when a
// program really holds it (has its serial device open, say), not for the
// binding alone. An entry libftdi1 cannot name stays as D2XX gave it.
//
// When D2XX fails to open a description and sysfs shows that adapter bound to
// ftdi_sio, libftdi1 opens it (detaching ftdi_sio until the close), and every
// later call on that handle goes to libftdi1. The events log is told once per
// description which adapter libftdi1 serves, and how to let D2XX have it.
class FallbackDriver final : public FtdiDriver {
public:
    FallbackDriver(std::unique_ptr<FtdiDriver> d2xx, std::unique_ptr<LibftdiDriver> libftdi,
                   std::filesystem::path sysRoot = "/sys");
    ~FallbackDriver() override;

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
    struct Entry {
        FtStatus status = ft::OK;
        DeviceInfoDetail detail;
    };

    FtdiDriver& driverOf(FtHandle handle);
    void nameKernelHeldEntries();

    std::unique_ptr<FtdiDriver> d2xx_;
    std::unique_ptr<LibftdiDriver> libftdi_;
    std::filesystem::path sysRoot_;
    std::vector<Entry> list_;      // the last list, as getDeviceInfoDetail gives it
    std::set<FtHandle> onLibftdi_; // handles libftdi1 gave out (D2XX's are pointers, never this small)
    std::set<std::string> told_;   // descriptions the events log has heard about
    std::function<void(const QString&)> diagnostics_;
};

} // namespace valve::link
