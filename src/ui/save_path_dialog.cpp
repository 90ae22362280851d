#include "save_path_dialog.h"

#include "dialog_wait.h"

#include <QDir>
#include <QFileDialog>
#include <QPointer>

namespace valve::ui {

QCoro::Task<QString> askSavePath(QWidget* parent, QString caption, QString suggestedName, QString filter) {
    QPointer<QFileDialog> dialog =
        new QFileDialog(parent, caption, QDir::home().filePath(suggestedName), filter);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
    co_await untilFinished(dialog);
    if (!dialog) {
        co_return QString();
    }
    const QString path = dialog->result() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
    dialog->deleteLater();
    co_return path;
}

} // namespace valve::ui
