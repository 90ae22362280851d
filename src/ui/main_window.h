#pragma once

#include "main_window_controls.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

namespace valve::link {
class UsbLink;
}

namespace valve::protocol {
class MessageBoxes;
}

namespace valve::record {
class EventLog;
}

namespace valve::ui {

// frmUSBMain: the tabbed main window above the events log. It shows the
// controls; the command handlers are wired to them from outside through
// controls(). Closing it shuts the whole program down.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(record::EventLog& log, link::UsbLink& link, protocol::MessageBoxes& boxes,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    [[nodiscard]] const MainWindowControls& controls() const { return controls_; }

    void set_program_version(const QString& version) { program_version_ = version; }
    [[nodiscard]] const QString& program_version() const { return program_version_; }

    // Fills lstControl with the command-mode names, in the order the operator sees them.
    void fill_control_list();

    // A secondary window (the Custom Configuration window) that closes with this one.
    void closeWithMainWindow(QWidget* window);
    // Runs when the window closes, once the log and the link are down: for the
    // services that must refuse to show anything from then on.
    void addShutDownStep(std::function<void()> step);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenu();
    void buildClientArea();
    void mnuAbout_Click();

    record::EventLog& log_;
    link::UsbLink& link_;
    protocol::MessageBoxes& boxes_;
    MainWindowControls controls_;
    QString program_version_;
    std::vector<QPointer<QWidget>> secondary_windows_;
    std::vector<std::function<void()>> shut_down_steps_;
    bool shut_down_ = false;
};

} // namespace valve::ui
