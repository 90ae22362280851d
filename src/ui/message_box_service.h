#pragma once

#include "protocol/message_boxes.h"

#include <QPointer>
#include <QWidget>
#include <vector>

class QMessageBox;

namespace valve::ui {

// Plain message boxes on screen: no icon, OK or OK and Cancel. A box is modal
// to the application but does not block: the caller's coroutine waits for it.
class MessageBoxService : public protocol::MessageBoxes {
public:
    explicit MessageBoxService(QWidget* owner = nullptr) : owner_(owner) {}
    ~MessageBoxService() override;
    MessageBoxService(const MessageBoxService&) = delete;
    MessageBoxService& operator=(const MessageBoxService&) = delete;

    // The window the boxes are centred on.
    void setOwner(QWidget* owner) { owner_ = owner; }

    QCoro::Task<protocol::BoxAnswer> message_box(QString text,
                                                 protocol::BoxButtons buttons = protocol::BoxButtons::Ok,
                                                 QString caption = protocol::kApplicationTitle) override;

    // From now on every box is answered Cancel without being shown, and the
    // boxes that are open close with Cancel.
    void setShuttingDown();
    [[nodiscard]] bool shuttingDown() const { return shutting_down_; }

    // The boxes open at this moment (for tests and for shut-down).
    [[nodiscard]] std::vector<QMessageBox*> openBoxes() const;

private:
    QPointer<QWidget> owner_;
    std::vector<QPointer<QMessageBox>> open_;
    bool shutting_down_ = false;
};

} // namespace valve::ui
