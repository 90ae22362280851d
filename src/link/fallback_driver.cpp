#include "fallback_driver.h"

#include "libftdi_support.h"

namespace valve::link {

FallbackDriver::FallbackDriver(std::unique_ptr<FtdiDriver> d2xx, std::unique_ptr<FtdiDriver> libftdi,
                               std::filesystem::path sysRoot)
    : d2xx_(std::move(d2xx)), libftdi_(std::move(libftdi)), sysRoot_(std::move(sysRoot)) {}

FtdiDriver& FallbackDriver::driverOf(FtHandle handle) {
    return onLibftdi_.contains(handle) ? *libftdi_ : *d2xx_;
}

FtStatus FallbackDriver::createDeviceInfoList(std::uint32_t& count) {
    return d2xx_->createDeviceInfoList(count);
}

FtStatus FallbackDriver::getDeviceInfoDetail(std::uint32_t index, DeviceInfoDetail& detail) {
    return d2xx_->getDeviceInfoDetail(index, detail);
}

FtStatus FallbackDriver::openEx(const char* description, std::uint32_t flags, FtHandle& handle) {
    const FtStatus status = d2xx_->openEx(description, flags, handle);
    if (status == ft::OK || flags != ft::OPEN_BY_DESCRIPTION ||
        !libftdi::heldBySerialDriver(sysRoot_, description)) {
        return status;
    }
    if (diagnostics_) {
        diagnostics_(libftdi::serialDriverFallbackDiagnostic(QString::fromLocal8Bit(description)));
    }
    FtHandle opened = 0;
    const FtStatus fallback = libftdi_->openEx(description, flags, opened);
    if (fallback == ft::OK) {
        handle = opened;
        onLibftdi_.insert(opened);
    }
    return fallback;
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
