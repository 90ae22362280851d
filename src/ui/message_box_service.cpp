#include "message_box_service.h"

#include "dialog_wait.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

namespace valve::ui {

namespace {

// A box without a Cancel button ignores its title-bar button and Escape, and
// a shut-down's close: this ends it unanswered instead.
class CloseEndsBox : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool escape =
            event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        if (event->type() != QEvent::Close && !escape) {
            return false;
        }
        static_cast<QDialog*>(watched)->done(QDialog::Rejected);
        return true;
    }
};

// The buttons of `kind`, each with the answer it gives; the first is the default.
std::vector<std::pair<QAbstractButton*, protocol::BoxAnswer>> addButtons(QMessageBox& box,
                                                                         protocol::BoxButtons kind) {
    using protocol::BoxAnswer;
    std::vector<std::pair<QAbstractButton*, BoxAnswer>> answers;
    const auto add = [&](const QString& text, QMessageBox::ButtonRole role, BoxAnswer answer) {
        answers.emplace_back(box.addButton(text, role), answer);
    };
    switch (kind) {
    case protocol::BoxButtons::ResumeShowDismiss:
        add(QStringLiteral("Resume"), QMessageBox::AcceptRole, BoxAnswer::Resume);
        add(QStringLiteral("Show"), QMessageBox::ActionRole, BoxAnswer::Show);
        add(QStringLiteral("Dismiss"), QMessageBox::DestructiveRole, BoxAnswer::Dismiss);
        break;
    case protocol::BoxButtons::SkipRunNow:
        add(QStringLiteral("Skip"), QMessageBox::AcceptRole, BoxAnswer::Skip);
        add(QStringLiteral("Run now"), QMessageBox::ActionRole, BoxAnswer::RunNow);
        break;
    case protocol::BoxButtons::OkCancel:
        answers.emplace_back(box.addButton(QMessageBox::Ok), BoxAnswer::Ok);
        box.addButton(QMessageBox::Cancel);
        break;
    case protocol::BoxButtons::Ok:
        answers.emplace_back(box.addButton(QMessageBox::Ok), BoxAnswer::Ok);
        break;
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(answers.front().first));
    return answers;
}

} // namespace

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
    const std::vector<std::pair<QAbstractButton*, protocol::BoxAnswer>> answers = addButtons(*box, buttons);
    for (QAbstractButton* button : box->buttons()) {
        button->setIcon({}); // plain buttons, as plain as the box
    }
    box->setWindowModality(Qt::ApplicationModal);
    if (buttons == protocol::BoxButtons::ResumeShowDismiss || buttons == protocol::BoxButtons::SkipRunNow) {
        box->installEventFilter(new CloseEndsBox(box));
    }

    // Only a press of a button answers. Closing the box by its title-bar
    // button (which Qt maps to the only button of an OK box) counts as the
    // kind's own answer to closing.
    auto answer = std::make_shared<protocol::BoxAnswer>(buttons == protocol::BoxButtons::SkipRunNow
                                                            ? protocol::BoxAnswer::Skip
                                                            : protocol::BoxAnswer::Cancel);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [answer, answers](QAbstractButton* pressed) {
        for (const auto& [button, meaning] : answers) {
            if (button == pressed) {
                *answer = meaning;
            }
        }
    });

    open_.emplace_back(box);
    box->show();
    co_await untilFinished(box.data());

    std::erase_if(open_, [&](const QPointer<QMessageBox>& open) { return open.isNull() || open == box; });
    if (box) {
        box->deleteLater();
    }
    co_return *answer;
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
