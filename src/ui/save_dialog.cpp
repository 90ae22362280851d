#include "save_dialog.h"

#include "dialog_wait.h"
#include "protocol/message_boxes.h"
#include "record/saved_file.h"

#include <QDir>
#include <QPointer>

namespace valve::ui {

QCoro::Task<> saveOrTell(QString path, FileSaver save, protocol::MessageBoxes& boxes) {
    const QString reason = save(path);
    if (!reason.isEmpty()) {
        co_await boxes.message_box(record::saveFailureMessage(path, reason));
    }
}

QCoro::Task<QString> askForFile(QWidget* parent, QString caption, QString path, QString filter,
                                QFileDialog::AcceptMode mode) {
    QPointer<QFileDialog> dialog = new QFileDialog(parent, caption, path, filter);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
    co_await untilFinished(dialog);
    if (!dialog) {
        co_return QString(); // its parent has gone
    }
    const QString chosen =
        dialog->result() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
    dialog->deleteLater();
    co_return chosen;
}

QCoro::Task<> askAndSave(QWidget* parent, QString caption, QString suggestedName, QString filter,
                         FileSaver save, protocol::MessageBoxes& boxes) {
    const QString path = co_await askForFile(parent, caption, QDir::home().filePath(suggestedName), filter,
                                             QFileDialog::AcceptSave);
    if (!path.isEmpty()) {
        co_await saveOrTell(path, std::move(save), boxes);
    }
}

} // namespace valve::ui
