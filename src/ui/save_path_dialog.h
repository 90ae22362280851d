#pragma once

#include <QString>
#include <qcoro/qcorotask.h>

class QWidget;

namespace valve::ui {

// Asks where to save, in a file dialog over `parent` that does not block:
// the caller's coroutine waits for it. Empty when the operator cancels or the
// parent goes away meanwhile.
QCoro::Task<QString> askSavePath(QWidget* parent, QString caption, QString suggestedName, QString filter);

} // namespace valve::ui
