#include "save_dialog.h"

#include "dialog_wait.h"
#include "link/prompts.h"
#include "link/saved_file.h"

#include <QDir>
#include <QFileDialog>
#include <QPointer>

namespace valve::ui {

QCoro::Task<> saveOrTell(QString path, FileSaver save, link::MessageBoxes& boxes) {
    const QString reason = save(path);
    if (!reason.isEmpty()) {
        co_await boxes.message_box(link::saveFailureMessage(path, reason));
    }
}

QCoro::Task<> askAndSave(QWidget* parent, QString caption, QString suggestedName, QString filter,
                         FileSaver save, link::MessageBoxes& boxes) {
    QPointer<QFileDialog> dialog =
        new QFileDialog(parent, caption, QDir::home().filePath(suggestedName), filter);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
    co_await untilFinished(dialog);
    if (!dialog) {
        co_return; // its parent has gone
    }
    const QString path = dialog->result() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
    dialog->deleteLater();
    if (!path.isEmpty()) {
        co_await saveOrTell(path, std::move(save), boxes);
    }
}

} // namespace valve::ui
