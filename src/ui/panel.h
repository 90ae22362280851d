#pragma once

#include "link/link_timing.h"
#include "link/prompts.h"
#include "sequencer/sequencer.h"

#include <QString>
#include <memory>
#include <qcoro/qcorotask.h>

namespace valve::link {
class DeviceSearch;
class EventLog;
class FtdiDriver;
class UsbLink;
} // namespace valve::link

namespace valve::protocol {
class Exchange;
class PositionControl;
struct Session;
} // namespace valve::protocol

namespace valve::ui {

class ChooserWindow;
class MainWindow;
class MessageBoxService;

// Stand-ins for the windows that ask the operator; null means the real ones.
struct PanelPrompts {
    link::MessageBoxes* messageBoxes = nullptr;
    link::DeviceChooser* chooser = nullptr;
};

// One run of the program: the events log, the device search, the link and
// the main window, over the driver it is given.
class Panel {
public:
    static inline const QString kProgramVersion = QStringLiteral("E");

    // `runSupport`: what timed runs may use to keep the computer awake.
    explicit Panel(link::FtdiDriver& driver, link::LinkTiming timing = {}, PanelPrompts prompts = {},
                   sequencer::RunSupport runSupport = {});
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // Start-up: opens the link (asking for the adapter when several are free),
    // logs a failure to connect, fills the command-mode list, shows the window.
    QCoro::Task<> start();

    [[nodiscard]] MainWindow& window() { return *window_; }
    [[nodiscard]] link::EventLog& log() { return *log_; }
    [[nodiscard]] link::UsbLink& link() { return *link_; }
    [[nodiscard]] link::DeviceSearch& search() { return *search_; }
    [[nodiscard]] link::MessageBoxes& messageBoxes() { return *message_boxes_; }
    [[nodiscard]] link::DeviceChooser& chooser() { return *chooser_; }
    [[nodiscard]] protocol::Session& session() { return *session_; }

private:
    // The real prompt windows, made only when no stand-in is given.
    std::unique_ptr<MessageBoxService> own_message_boxes_;
    std::unique_ptr<ChooserWindow> own_chooser_;
    link::MessageBoxes* message_boxes_;
    link::DeviceChooser* chooser_;

    std::unique_ptr<link::EventLog> log_;
    std::unique_ptr<link::DeviceSearch> search_;
    std::unique_ptr<link::UsbLink> link_;
    // What the commands work with; made before the window, gone after it.
    std::unique_ptr<protocol::Exchange> exchange_;
    std::unique_ptr<protocol::PositionControl> positions_;
    std::unique_ptr<protocol::Session> session_;
    std::unique_ptr<MainWindow> window_;
};

} // namespace valve::ui
