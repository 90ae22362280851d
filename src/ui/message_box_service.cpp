#include "message_box_service.h"

#include "dialog_wait.h"

#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

namespace valve::ui {

MessageBoxService::~MessageBoxService() {
    shutting_down_ = true; // an operation woken by a deleted box asks for no new one
    for (const auto& box : open_) {
        delete box.data();
    }
}

QCoro::Task<protocol::BoxAnswer> MessageBoxService::message_box(QString text, protocol::BoxButtons buttons,
                                                                QString caption) {
    if (shutting_down_) {
        co_return protocol::BoxAnswer::Cancel;
    }
    QPointer<QMessageBox> box = new QMessageBox(owner_.data());
    box->setObjectName(QStringLiteral("messageBox"));
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(caption);
    box->setText(text);
    box->setTextFormat(Qt::PlainText);
    box->setStandardButtons(buttons == protocol::BoxButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                                      : QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    for (QAbstractButton* button : box->buttons()) {
        button->setIcon({}); // plain buttons, as plain as the box
    }
    box->setWindowModality(Qt::ApplicationModal);

    // Only a press of OK is OK. Closing the box by its title-bar button (which
    // Qt maps to the only button of an OK box) counts as Cancel.
    auto okPressed = std::make_shared<bool>(false);
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [okPressed, ok = box->button(QMessageBox::Ok)](QAbstractButton* pressed) {
                         *okPressed = pressed == ok;
                     });

    open_.emplace_back(box);
    box->show();
    co_await untilFinished(box.data());

    std::erase_if(open_, [&](const QPointer<QMessageBox>& open) { return open.isNull() || open == box; });
    if (box) {
        box->deleteLater();
    }
    co_return *okPressed ? protocol::BoxAnswer::Ok : protocol::BoxAnswer::Cancel;
}

void MessageBoxService::setShuttingDown() {
    shutting_down_ = true;
    const auto boxes = open_;
    for (const auto& box : boxes) {
        if (box) {
            box->close();
        }
    }
}

std::vector<QMessageBox*> MessageBoxService::openBoxes() const {
    std::vector<QMessageBox*> boxes;
    for (const auto& box : open_) {
        if (box && box->isVisible()) {
            boxes.push_back(box.data());
        }
    }
    return boxes;
}

} // namespace valve::ui
