#include "simulated_driver.h"

#include <algorithm>
#include <cstring>

namespace valve::sim {

namespace ft = link::ft;
using link::FtHandle;
using link::FtStatus;

namespace {

constexpr std::uint32_t kDeviceType232R = 5;
constexpr std::uint32_t kVendorProductId = 0x04036001;
constexpr std::uint32_t kOpenBySerialNumber = 1;

// Bytes as a C string literal: printable ASCII as is, the rest escaped.
QString quoted(QByteArrayView bytes) {
    QString text = QStringLiteral("\"");
    for (const char c : bytes) {
        if (c == '\r') {
            text += QStringLiteral("\\r");
        } else if (c == '\n') {
            text += QStringLiteral("\\n");
        } else if (c == '"' || c == '\\') {
            text += QLatin1Char('\\');
            text += QLatin1Char(c);
        } else if (c >= 0x20 && c < 0x7f) {
            text += QLatin1Char(c);
        } else {
            text += QStringLiteral("\\x%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
        }
    }
    return text + QLatin1Char('"');
}

template <typename... Numbers> QString numbers(Numbers... values) {
    QStringList parts{QString::number(values)...};
    return parts.join(QStringLiteral(", "));
}

void copyText(QByteArrayView text, std::array<char, link::kDescriptionBufferSize>& buffer) {
    buffer.fill('\0');
    const auto length = std::min<std::size_t>(static_cast<std::size_t>(text.size()), buffer.size() - 1);
    std::memcpy(buffer.data(), text.data(), length);
}

} // namespace

SimulatedDriver::SimulatedDriver(ClockFn clock) : clock_(std::move(clock)) {}

SimulatedDriver::~SimulatedDriver() = default;

std::size_t SimulatedDriver::addAdapter(QByteArray description, UnitTiming timing) {
    Adapter adapter;
    adapter.description = std::move(description);
    adapter.serialNumber =
        QByteArray("NRV") +
        QByteArray::number(static_cast<qulonglong>(adapters_.size())).rightJustified(4, '0');
    adapter.unit = std::make_unique<SimulatedUnit>(timing, clock_);
    adapter.unit->wire().setEnabled(recordWire_);
    adapters_.push_back(std::move(adapter));
    return adapters_.size() - 1;
}

void SimulatedDriver::setWireRecordEnabled(bool enabled) {
    recordWire_ = enabled;
    for (Adapter& adapter : adapters_) {
        adapter.unit->wire().setEnabled(enabled);
    }
}

SimulatedUnit& SimulatedDriver::unit(std::size_t adapter) {
    return *adapters_.at(adapter).unit;
}

void SimulatedDriver::setOpenElsewhere(std::size_t adapter, bool open) {
    adapters_.at(adapter).openElsewhere = open;
}

void SimulatedDriver::unplug(std::size_t index) {
    Adapter& adapter = adapters_.at(index);
    if (!adapter.present) {
        return;
    }
    adapter.present = false;
    ++adapter.generation;
    adapter.openHandle = 0;
    adapter.unit->dropLine();
    rearm();
}

void SimulatedDriver::replug(std::size_t index) {
    adapters_.at(index).present = true;
    rearm();
}

bool SimulatedDriver::pluggedIn(std::size_t adapter) const {
    return adapters_.at(adapter).present;
}

bool SimulatedDriver::openHere(std::size_t adapter) const {
    return adapters_.at(adapter).openHandle != 0;
}

FtHandle SimulatedDriver::handleOf(std::size_t adapter) const {
    return adapters_.at(adapter).openHandle;
}

const AdapterSettings& SimulatedDriver::settings(std::size_t adapter) const {
    return adapters_.at(adapter).settings;
}

void SimulatedDriver::failCall(DriverCall call, FtStatus status, int times, int after) {
    statusFaults_.push_back({call, status, FaultCount(times), after});
}

void SimulatedDriver::readReturnsStatus(FtStatus status, int times) {
    readStatus_ = status;
    readStatusCount_ = FaultCount(times);
}

void SimulatedDriver::clearFaults() {
    statusFaults_.clear();
    readStatusCount_ = FaultCount();
}

QStringList SimulatedDriver::callTexts(std::initializer_list<DriverCall> omit) const {
    QStringList texts;
    for (const DriverCallRecord& record : callLog_) {
        if (std::find(omit.begin(), omit.end(), record.call) == omit.end()) {
            texts.append(record.text);
        }
    }
    return texts;
}

// --- wake-ups ---

bool SimulatedDriver::setReceiveNotifier(std::function<void()> notify) {
    notify_ = std::move(notify);
    if (!notify_) {
        wakeup_.reset();
        return true;
    }
    if (!wakeup_) {
        wakeup_ = std::make_unique<PreciseWakeup>([this] { service(); });
    }
    announced_ = deliveredTotal();
    rearm();
    return true;
}

std::uint64_t SimulatedDriver::deliveredTotal() const {
    std::uint64_t total = 0;
    for (const Adapter& adapter : adapters_) {
        total += adapter.unit->deliveredTotal();
    }
    return total;
}

void SimulatedDriver::service() {
    for (Adapter& adapter : adapters_) {
        if (adapter.present) {
            adapter.unit->advance();
        }
    }
    const std::uint64_t delivered = deliveredTotal();
    if (delivered != announced_) {
        announced_ = delivered;
        if (notify_) {
            notify_(); // may call back into the driver; rearm() comes after
        }
    }
    rearm();
}

void SimulatedDriver::rearm() {
    if (!wakeup_) {
        return;
    }
    if (deliveredTotal() != announced_) {
        wakeup_->armIn(SimDuration{0});
        return;
    }
    std::optional<SimTime> next;
    for (const Adapter& adapter : adapters_) {
        if (!adapter.present) {
            continue;
        }
        if (const auto t = adapter.unit->nextEventTime(); t && (!next || *t < *next)) {
            next = t;
        }
    }
    if (next) {
        wakeup_->armIn(*next - clock_());
    } else {
        wakeup_->disarm();
    }
}

// --- helpers of the operations ---

SimulatedDriver::Adapter* SimulatedDriver::resolve(FtHandle handle, FtStatus& status) {
    const auto entry = handles_.find(handle);
    if (entry == handles_.end()) {
        status = ft::INVALID_HANDLE;
        return nullptr;
    }
    Adapter& adapter = adapters_[entry->second.adapter];
    if (!adapter.present || adapter.generation != entry->second.generation) {
        status = ft::IO_ERROR;
        return nullptr;
    }
    status = ft::OK;
    return &adapter;
}

std::optional<FtStatus> SimulatedDriver::injectedStatus(DriverCall call) {
    for (auto fault = statusFaults_.begin(); fault != statusFaults_.end(); ++fault) {
        if (fault->call != call) {
            continue;
        }
        if (fault->after > 0) {
            --fault->after;
            return std::nullopt;
        }
        const FtStatus status = fault->status;
        fault->count.take();
        if (!fault->count.active()) {
            statusFaults_.erase(fault);
        }
        return status;
    }
    return std::nullopt;
}

FtStatus SimulatedDriver::finish(DriverCall call, FtHandle handle, const QString& arguments,
                                 FtStatus status) {
    if (logCalls_) {
        callLog_.push_back(
            {call, handle, driverCallName(call) + QLatin1Char('(') + arguments + QLatin1Char(')'), status});
    }
    rearm();
    return status;
}

// --- the operations ---

FtStatus SimulatedDriver::createDeviceInfoList(std::uint32_t& count) {
    if (const auto injected = injectedStatus(DriverCall::CreateDeviceInfoList)) {
        return finish(DriverCall::CreateDeviceInfoList, 0, {}, *injected);
    }
    listed_.clear();
    for (std::size_t i = 0; i < adapters_.size(); ++i) {
        if (adapters_[i].present) {
            listed_.push_back(i);
        }
    }
    count = static_cast<std::uint32_t>(listed_.size());
    return finish(DriverCall::CreateDeviceInfoList, 0, {}, ft::OK);
}

FtStatus SimulatedDriver::getDeviceInfoDetail(std::uint32_t index, link::DeviceInfoDetail& detail) {
    const QString arguments = QString::number(index);
    if (const auto injected = injectedStatus(DriverCall::GetDeviceInfoDetail)) {
        return finish(DriverCall::GetDeviceInfoDetail, 0, arguments, *injected);
    }
    if (index >= listed_.size()) {
        return finish(DriverCall::GetDeviceInfoDetail, 0, arguments, ft::DEVICE_NOT_FOUND);
    }
    const Adapter& adapter = adapters_[listed_[index]];
    detail.flags = adapter.openElsewhere || adapter.openHandle != 0 ? ft::FLAGS_OPENED : 0;
    detail.type = kDeviceType232R;
    detail.id = kVendorProductId;
    detail.locationId = 0x11 + static_cast<std::uint32_t>(listed_[index]);
    copyText(adapter.serialNumber, detail.serialNumber);
    copyText(adapter.description, detail.description);
    detail.handle = adapter.openHandle;
    return finish(DriverCall::GetDeviceInfoDetail, 0, arguments, ft::OK);
}

FtStatus SimulatedDriver::openEx(const char* description, std::uint32_t flags, FtHandle& handle) {
    const QByteArrayView wanted =
        description ? QByteArrayView(description, qstrlen(description)) : QByteArrayView();
    const QString arguments = quoted(wanted) + QStringLiteral(", ") + QString::number(flags);
    if (const auto injected = injectedStatus(DriverCall::OpenEx)) {
        return finish(DriverCall::OpenEx, 0, arguments, *injected);
    }
    if (!description || (flags != ft::OPEN_BY_DESCRIPTION && flags != kOpenBySerialNumber)) {
        return finish(DriverCall::OpenEx, 0, arguments, ft::INVALID_PARAMETER);
    }
    bool busyMatch = false;
    for (std::size_t i = 0; i < adapters_.size(); ++i) {
        Adapter& adapter = adapters_[i];
        const QByteArray& name =
            flags == ft::OPEN_BY_DESCRIPTION ? adapter.description : adapter.serialNumber;
        if (!adapter.present || name != wanted) {
            continue;
        }
        if (adapter.openElsewhere || adapter.openHandle != 0) {
            busyMatch = true;
            continue;
        }
        handle = nextHandle_;
        nextHandle_ += 0x10;
        handles_[handle] = {i, adapter.generation};
        adapter.openHandle = handle;
        adapter.settings = {};
        return finish(DriverCall::OpenEx, handle, arguments, ft::OK);
    }
    return finish(DriverCall::OpenEx, 0, arguments, busyMatch ? ft::DEVICE_NOT_OPENED : ft::DEVICE_NOT_FOUND);
}

FtStatus SimulatedDriver::setBaudRate(FtHandle handle, std::uint32_t baudRate) {
    const QString arguments = numbers(baudRate);
    if (const auto injected = injectedStatus(DriverCall::SetBaudRate)) {
        return finish(DriverCall::SetBaudRate, handle, arguments, *injected);
    }
    FtStatus status = ft::OK;
    if (Adapter* adapter = resolve(handle, status)) {
        if (baudRate < 183 || baudRate > 3'000'000) {
            status = ft::INVALID_BAUD_RATE;
        } else {
            adapter->settings.baudRate = baudRate;
        }
    }
    return finish(DriverCall::SetBaudRate, handle, arguments, status);
}

FtStatus SimulatedDriver::setDataCharacteristics(FtHandle handle, std::uint8_t wordLength,
                                                 std::uint8_t stopBits, std::uint8_t parity) {
    const QString arguments = numbers(wordLength, stopBits, parity);
    if (const auto injected = injectedStatus(DriverCall::SetDataCharacteristics)) {
        return finish(DriverCall::SetDataCharacteristics, handle, arguments, *injected);
    }
    FtStatus status = ft::OK;
    if (Adapter* adapter = resolve(handle, status)) {
        const bool valid =
            (wordLength == 7 || wordLength == 8) && (stopBits == 0 || stopBits == 2) && parity <= 4;
        if (!valid) {
            status = ft::INVALID_PARAMETER;
        } else {
            adapter->settings.wordLength = wordLength;
            adapter->settings.stopBits = stopBits;
            adapter->settings.parity = parity;
        }
    }
    return finish(DriverCall::SetDataCharacteristics, handle, arguments, status);
}

FtStatus SimulatedDriver::setFlowControl(FtHandle handle, std::uint16_t flowControl, std::uint8_t xon,
                                         std::uint8_t xoff) {
    const QString arguments = numbers(flowControl, xon, xoff);
    if (const auto injected = injectedStatus(DriverCall::SetFlowControl)) {
        return finish(DriverCall::SetFlowControl, handle, arguments, *injected);
    }
    FtStatus status = ft::OK;
    if (Adapter* adapter = resolve(handle, status)) {
        const bool valid =
            flowControl == 0 || flowControl == 0x100 || flowControl == 0x200 || flowControl == 0x400;
        if (!valid) {
            status = ft::INVALID_PARAMETER;
        } else {
            adapter->settings.flowControl = flowControl;
            adapter->settings.xon = xon;
            adapter->settings.xoff = xoff;
        }
    }
    return finish(DriverCall::SetFlowControl, handle, arguments, status);
}

FtStatus SimulatedDriver::setTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                                      std::uint32_t writeTimeoutMs) {
    const QString arguments = numbers(readTimeoutMs, writeTimeoutMs);
    if (const auto injected = injectedStatus(DriverCall::SetTimeouts)) {
        return finish(DriverCall::SetTimeouts, handle, arguments, *injected);
    }
    FtStatus status = ft::OK;
    if (Adapter* adapter = resolve(handle, status)) {
        adapter->settings.readTimeoutMs = readTimeoutMs;
        adapter->settings.writeTimeoutMs = writeTimeoutMs;
    }
    return finish(DriverCall::SetTimeouts, handle, arguments, status);
}

FtStatus SimulatedDriver::purge(FtHandle handle, std::uint32_t mask) {
    const QString arguments = numbers(mask);
    if (const auto injected = injectedStatus(DriverCall::Purge)) {
        return finish(DriverCall::Purge, handle, arguments, *injected);
    }
    FtStatus status = ft::OK;
    if (Adapter* adapter = resolve(handle, status)) {
        if ((mask & ft::PURGE_RX) != 0) {
            adapter->unit->purgeHostReceive();
        }
        if ((mask & ft::PURGE_TX) != 0) {
            adapter->unit->purgeHostTransmit();
        }
        ++adapter->settings.purges;
        adapter->settings.lastPurgeMask = mask;
    }
    return finish(DriverCall::Purge, handle, arguments, status);
}

FtStatus SimulatedDriver::getQueueStatus(FtHandle handle, std::uint32_t& rxBytes) {
    if (const auto injected = injectedStatus(DriverCall::GetQueueStatus)) {
        return finish(DriverCall::GetQueueStatus, handle, {}, *injected);
    }
    FtStatus status = ft::OK;
    if (Adapter* adapter = resolve(handle, status)) {
        rxBytes = static_cast<std::uint32_t>(adapter->unit->readableCount());
    }
    return finish(DriverCall::GetQueueStatus, handle, {}, status);
}

FtStatus SimulatedDriver::read(FtHandle handle, void* buffer, std::uint32_t bytesToRead,
                               std::uint32_t& bytesRead) {
    const QString arguments = numbers(bytesToRead);
    bytesRead = 0;
    if (const auto injected = injectedStatus(DriverCall::Read)) {
        return finish(DriverCall::Read, handle, arguments, *injected);
    }
    FtStatus status = ft::OK;
    Adapter* adapter = resolve(handle, status);
    if (adapter && buffer == nullptr && bytesToRead > 0) {
        status = ft::INVALID_PARAMETER;
    } else if (adapter) {
        const QByteArray bytes = adapter->unit->takeReadable(bytesToRead);
        std::memcpy(buffer, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        bytesRead = static_cast<std::uint32_t>(bytes.size());
        if (readStatusCount_.take()) {
            status = readStatus_;
        }
    }
    return finish(DriverCall::Read, handle, arguments, status);
}

FtStatus SimulatedDriver::write(FtHandle handle, const void* buffer, std::uint32_t bytesToWrite,
                                std::uint32_t& bytesWritten) {
    bytesWritten = 0;
    const QByteArrayView bytes =
        buffer ? QByteArrayView(static_cast<const char*>(buffer), bytesToWrite) : QByteArrayView();
    const QString arguments = quoted(bytes);
    if (const auto injected = injectedStatus(DriverCall::Write)) {
        return finish(DriverCall::Write, handle, arguments, *injected);
    }
    FtStatus status = ft::OK;
    Adapter* adapter = resolve(handle, status);
    if (adapter && buffer == nullptr && bytesToWrite > 0) {
        status = ft::INVALID_PARAMETER;
    } else if (adapter) {
        adapter->unit->hostWrite(bytes);
        bytesWritten = bytesToWrite;
    }
    return finish(DriverCall::Write, handle, arguments, status);
}

FtStatus SimulatedDriver::close(FtHandle handle) {
    if (const auto injected = injectedStatus(DriverCall::Close)) {
        return finish(DriverCall::Close, handle, {}, *injected);
    }
    FtStatus status = ft::OK;
    const auto entry = handles_.find(handle);
    if (entry == handles_.end()) {
        return finish(DriverCall::Close, handle, {}, ft::INVALID_HANDLE);
    }
    resolve(handle, status);
    if (status == ft::OK) {
        adapters_[entry->second.adapter].openHandle = 0;
    }
    handles_.erase(entry);
    return finish(DriverCall::Close, handle, {}, status);
}

} // namespace valve::sim
