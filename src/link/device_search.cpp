#include "device_search.h"

#include "record/event_log.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace valve::link {

namespace {
// Only the characters before the first NUL of a driver's buffer count.
QByteArray untilNul(const std::array<char, kDescriptionBufferSize>& buffer) {
    return {buffer.data(), static_cast<qsizetype>(strnlen(buffer.data(), buffer.size()))};
}
} // namespace

QList<AdapterInfo> listAdapters(FtdiDriver& driver) {
    QList<AdapterInfo> adapters;
    std::uint32_t attached = 0;
    if (driver.createDeviceInfoList(attached) != ft::OK) {
        return adapters;
    }
    for (std::uint32_t index = 0; index < std::min<std::uint32_t>(attached, 1024); ++index) {
        DeviceInfoDetail detail;
        if (driver.getDeviceInfoDetail(index, detail) == ft::OK) {
            adapters.append({untilNul(detail.description), untilNul(detail.serialNumber),
                             (detail.flags & ft::FLAGS_OPENED) != 0});
        }
    }
    return adapters;
}

DeviceSearch::DeviceSearch(FtdiDriver& driver, DeviceChooser& chooser, record::EventLog& log)
    : driver_(driver), chooser_(chooser), log_(log) {}

std::int16_t DeviceSearch::FindDevices() {
    device_count_ = 0;
    std::uint32_t attached = 0;
    if (driver_.createDeviceInfoList(attached) != ft::OK) {
        return 0;
    }
    // The count is a signed 16-bit number; a driver reporting more is not believed.
    const auto examined = std::min<std::uint32_t>(attached, std::numeric_limits<std::int16_t>::max());
    device_list_.clear();
    serial_list_.clear();
    device_list_.reserve(static_cast<qsizetype>(examined));
    for (std::uint32_t index = 0; index < examined; ++index) {
        DeviceInfoDetail detail;
        if (driver_.getDeviceInfoDetail(index, detail) != ft::OK || (detail.flags & ft::FLAGS_OPENED) != 0) {
            continue;
        }
        device_list_.append(untilNul(detail.description));
        serial_list_.append(untilNul(detail.serialNumber));
        ++device_count_;
    }
    return device_count_;
}

QByteArray DeviceSearch::serial_of(const QByteArray& description) const {
    const qsizetype at = device_list_.indexOf(description);
    return at >= 0 && at < serial_list_.size() ? serial_list_[at] : QByteArray();
}

QCoro::Task<QByteArray> DeviceSearch::PopUp() {
    if (device_count_ == 1) {
        // A copy: QCoro's co_return moves from a non-const lvalue, which would
        // empty the list's entry (and with it the adapter's serial number).
        QByteArray only = device_list_.front();
        co_return only;
    }
    const QByteArray selected = co_await chooser_.choose(device_list_.first(device_count_));
    log_.show_link_msg(QStringLiteral("Selected ") + QString::fromLocal8Bit(selected));
    co_return selected;
}

} // namespace valve::link
