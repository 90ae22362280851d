#pragma once

#include <QByteArray>
#include <QList>
#include <qcoro/qcorotask.h>

namespace valve::link {

// The modal "Choose USB Serial Port" window: shows the descriptions with the
// first one selected and hands back the one selected when it is closed, by
// OK or by the window's close button alike.
class DeviceChooser {
public:
    virtual ~DeviceChooser() = default;
    virtual QCoro::Task<QByteArray> choose(QList<QByteArray> descriptions) = 0;
};

} // namespace valve::link
