#include "custom_config_wiring.h"

#include "custom_config_window.h"
#include "main_window.h"

#include <QPointer>
#include <QPushButton>

namespace valve::ui {

namespace {

// Keeps the one Custom Configuration window of the main window it belongs to.
class CustomConfigOpener : public QObject {
public:
    CustomConfigOpener(MainWindow& window, protocol::Session& session)
        : QObject(&window), window_(window), session_(session) {}
    ~CustomConfigOpener() override { delete form_.data(); }

    void Command1_Click() {
        // A window that was closed is only waiting to be deleted: open anew.
        if (form_ && form_->isVisible()) {
            if (form_->isMinimized()) {
                form_->showNormal();
            }
            form_->raise();
            form_->activateWindow();
            return;
        }
        form_ = new CustomConfigWindow(session_);
        window_.closeWithMainWindow(form_);
        form_->show();
    }

private:
    MainWindow& window_;
    protocol::Session& session_;
    QPointer<CustomConfigWindow> form_;
};

} // namespace

void wireCustomConfiguration(MainWindow& window, protocol::Session& session) {
    auto* opener = new CustomConfigOpener(window, session);
    QObject::connect(window.controls().Command1, &QPushButton::clicked, opener,
                     &CustomConfigOpener::Command1_Click);
}

} // namespace valve::ui
