#pragma once

#include <QFileDialog>
#include <QString>
#include <functional>
#include <qcoro/qcorotask.h>

namespace valve::protocol {
class MessageBoxes;
}

namespace valve::ui {

// Writes a file to the path it is given; empty on success, otherwise why not.
using FileSaver = std::function<QString(const QString& path)>;

// Saves to `path` and tells a failure in a message box.
QCoro::Task<> saveOrTell(QString path, FileSaver save, protocol::MessageBoxes& boxes);

// Asks for a file in a dialog over `parent` that does not block (the
// caller's coroutine waits for it), starting at `path`: an existing file to
// open, or any name to save under, as `mode` says. Empty when the operator
// cancels or the parent goes away meanwhile.
QCoro::Task<QString> askForFile(QWidget* parent, QString caption, QString path, QString filter,
                                QFileDialog::AcceptMode mode);

// Asks where to save, in a file dialog over `parent` that does not block (the
// caller's coroutine waits for it), then saves there. Nothing is saved when
// the operator cancels or the parent goes away meanwhile.
QCoro::Task<> askAndSave(QWidget* parent, QString caption, QString suggestedName, QString filter,
                         FileSaver save, protocol::MessageBoxes& boxes);

} // namespace valve::ui
