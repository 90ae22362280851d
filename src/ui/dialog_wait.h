#pragma once

#include "link/wake_signal.h"

#include <QDialog>
#include <qcoro/qcorotask.h>

namespace valve::ui {

// Waits until the dialog has finished, without a nested event loop. It also
// ends when the dialog is deleted first, so no waiting operation is left
// suspended for ever.
inline QCoro::Task<> untilFinished(QDialog* dialog) {
    link::WakeSignal done;
    const auto finished = QObject::connect(dialog, &QDialog::finished, [&done] { done.notify(); });
    const auto destroyed = QObject::connect(dialog, &QObject::destroyed, [&done] { done.notify(); });
    co_await done.wait();
    QObject::disconnect(finished);
    QObject::disconnect(destroyed);
}

} // namespace valve::ui
