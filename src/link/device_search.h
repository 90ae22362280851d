#pragma once

#include "device_chooser.h"
#include "ftdi_driver.h"

#include <QByteArray>
#include <QList>
#include <cstdint>

namespace valve::record {
class EventLog;
}

namespace valve::link {

// One attached adapter as the driver reports it.
struct AdapterInfo {
    QByteArray description;
    QByteArray serialNumber;
    bool openElsewhere = false; // open in some process, this one included
};

// Every adapter the driver reports, free or not, in the driver's order; an
// adapter whose details cannot be read is left out.
QList<AdapterInfo> listAdapters(FtdiDriver& driver);

// Finds the attached adapters that are not open elsewhere and picks the one to
// open: at once when there is one, through the chooser when there are several.
class DeviceSearch {
public:
    DeviceSearch(FtdiDriver& driver, DeviceChooser& chooser, record::EventLog& log);

    // Returns how many free devices the driver reported; logs nothing.
    std::int16_t FindDevices();
    // The description to open (without the NUL). Logs "Selected ..." when the
    // chooser was shown. Never called with no device kept.
    QCoro::Task<QByteArray> PopUp();

    [[nodiscard]] const QList<QByteArray>& device_list() const { return device_list_; }
    [[nodiscard]] std::int16_t device_count() const { return device_count_; }
    // The serial number of the first free device found with `description`.
    [[nodiscard]] QByteArray serial_of(const QByteArray& description) const;

private:
    FtdiDriver& driver_;
    DeviceChooser& chooser_;
    record::EventLog& log_;
    QList<QByteArray> device_list_;
    QList<QByteArray> serial_list_; // beside device_list_
    std::int16_t device_count_ = 0;
};

} // namespace valve::link
