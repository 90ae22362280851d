#include "fallback_driver.h"

#include "libftdi_driver.h"
#include "libftdi_support.h"

#include <algorithm>
#include <deque>

namespace valve::link {

namespace {

// More than any bus holds: a library reporting more is not believed.
constexpr std::uint32_t kMostListed = 1024;

// How D2XX lists an adapter it cannot describe because a kernel driver has it.
bool heldByKernelDriver(FtStatus status, const DeviceInfoDetail& detail) {
    return status == ft::OK && (detail.flags & ft::FLAGS_OPENED) != 0 && detail.description[0] == '\0';
}

} // namespace

FallbackDriver::FallbackDriver(std::unique_ptr<FtdiDriver> d2xx, std::unique_ptr<LibftdiDriver> libftdi,
                               std::filesystem::path sysRoot)
    : d2xx_(std::move(d2xx)), libftdi_(std::move(libftdi)), sysRoot_(std::move(sysRoot)) {}

FallbackDriver::~FallbackDriver() = default;

FtdiDriver& FallbackDriver::driverOf(FtHandle handle) {
    return onLibftdi_.contains(handle) ? *libftdi_ : *d2xx_;
}

FtStatus FallbackDriver::createDeviceInfoList(std::uint32_t& count) {
    std::uint32_t attached = 0;
    const FtStatus status = d2xx_->createDeviceInfoList(attached);
    if (status != ft::OK) {
        return status;
    }
    list_.assign(std::min(attached, kMostListed), Entry{});
    for (std::uint32_t index = 0; index < list_.size(); ++index) {
        list_[index].status = d2xx_->getDeviceInfoDetail(index, list_[index].detail);
    }
    nameKernelHeldEntries();
    count = static_cast<std::uint32_t>(list_.size());
    return ft::OK;
}

// libftdi1 scans the bus (opening each adapter briefly) only when D2XX has
// listed an adapter it could not describe.
void FallbackDriver::nameKernelHeldEntries() {
    const auto unnamed = [](const Entry& entry) { return heldByKernelDriver(entry.status, entry.detail); };
    std::uint32_t found = 0;
    if (std::none_of(list_.begin(), list_.end(), unnamed) ||
        libftdi_->createDeviceInfoList(found) != ft::OK) {
        return;
    }
    std::deque<DeviceInfoDetail> named;
    for (std::uint32_t index = 0; index < found; ++index) {
        DeviceInfoDetail adapter;
        if (libftdi_->getDeviceInfoDetail(index, adapter) == ft::OK &&
            libftdi_->heldBySerialDriverOrHere(index)) {
            named.push_back(adapter);
        }
    }
    for (Entry& entry : list_) {
        if (!named.empty() && unnamed(entry)) {
            entry.detail = named.front();
            named.pop_front();
        }
    }
}

FtStatus FallbackDriver::getDeviceInfoDetail(std::uint32_t index, DeviceInfoDetail& detail) {
    if (index >= list_.size()) {
        return ft::DEVICE_NOT_FOUND;
    }
    detail = list_[index].detail;
    return list_[index].status;
}

FtStatus FallbackDriver::openEx(const char* description, std::uint32_t flags, FtHandle& handle) {
    const FtStatus status = d2xx_->openEx(description, flags, handle);
    if (status == ft::OK || flags != ft::OPEN_BY_DESCRIPTION ||
        !libftdi::heldBySerialDriver(sysRoot_, description)) {
        return status;
    }
    FtHandle opened = 0;
    const FtStatus fallback = libftdi_->openEx(description, flags, opened);
    if (fallback != ft::OK) {
        return fallback;
    }
    handle = opened;
    onLibftdi_.insert(opened);
    if (diagnostics_ && told_.insert(description).second) {
        diagnostics_(libftdi::serialDriverFallbackDiagnostic(QString::fromLocal8Bit(description)));
    }
    return ft::OK;
}

FtStatus FallbackDriver::setBaudRate(FtHandle handle, std::uint32_t baudRate) {
    return driverOf(handle).setBaudRate(handle, baudRate);
}

FtStatus FallbackDriver::setDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                                std::uint8_t stopBits, std::uint8_t parity) {
    return driverOf(handle).setDataCharacteristics(handle, wordLength, stopBits, parity);
}

FtStatus FallbackDriver::setFlowControl(FtHandle handle, std::uint16_t flowControl, std::uint8_t xon,
                                        std::uint8_t xoff) {
    return driverOf(handle).setFlowControl(handle, flowControl, xon, xoff);
}

FtStatus FallbackDriver::setTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                                     std::uint32_t writeTimeoutMs) {
    return driverOf(handle).setTimeouts(handle, readTimeoutMs, writeTimeoutMs);
}

FtStatus FallbackDriver::purge(FtHandle handle, std::uint32_t mask) {
    return driverOf(handle).purge(handle, mask);
}

FtStatus FallbackDriver::getQueueStatus(FtHandle handle, std::uint32_t& rxBytes) {
    return driverOf(handle).getQueueStatus(handle, rxBytes);
}

FtStatus FallbackDriver::read(FtHandle handle, void* buffer, std::uint32_t bytesToRead,
                              std::uint32_t& bytesRead) {
    return driverOf(handle).read(handle, buffer, bytesToRead, bytesRead);
}

FtStatus FallbackDriver::write(FtHandle handle, const void* buffer, std::uint32_t bytesToWrite,
                               std::uint32_t& bytesWritten) {
    return driverOf(handle).write(handle, buffer, bytesToWrite, bytesWritten);
}

FtStatus FallbackDriver::close(FtHandle handle) {
    const FtStatus status = driverOf(handle).close(handle);
    onLibftdi_.erase(handle);
    return status;
}

bool FallbackDriver::setReceiveNotifier(std::function<void()> notify) {
    const bool d2xx = d2xx_->setReceiveNotifier(notify);
    return libftdi_->setReceiveNotifier(std::move(notify)) && d2xx;
}

void FallbackDriver::setReceiveWanted(FtHandle handle, bool wanted) {
    driverOf(handle).setReceiveWanted(handle, wanted);
}

void FallbackDriver::setDiagnosticSink(std::function<void(const QString&)> sink) {
    d2xx_->setDiagnosticSink(sink);
    libftdi_->setDiagnosticSink(sink);
    diagnostics_ = std::move(sink);
}

} // namespace valve::link
