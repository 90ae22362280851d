#pragma once

#include "link/device_chooser.h"
#include "link/link_timing.h"
#include "protocol/message_boxes.h"
#include "resume_offer.h"
#include "sequencer/sequencer.h"

#include <QString>
#include <memory>
#include <qcoro/qcorotask.h>

namespace valve::link {
class DeviceSearch;
class FtdiDriver;
class UsbLink;
} // namespace valve::link

namespace valve::record {
class EventLog;
}

namespace valve::protocol {
class Exchange;
class PositionControl;
struct Session;
} // namespace valve::protocol

namespace valve::sila {
struct ListenPlan;
}

namespace valve::ui {

class ChooserWindow;
class MainWindow;
class MessageBoxService;
class PanelRemote;
class SequencerWiring;
class SilaWiring;

// Stand-ins for the windows that ask the operator; null means the real ones.
struct PanelPrompts {
    protocol::MessageBoxes* messageBoxes = nullptr;
    link::DeviceChooser* chooser = nullptr;
};

// One run of the program: the events log, the device search, the link and
// the main window, over the driver it is given.
class Panel {
public:
    // The release letter of the About box ("Version E"), as operators know the
    // panel; it is not the build's version number, which valvectl reports.
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
    // Once started and connected: offers the newest run of this adapter that
    // was cut short, as `mode` says. Nothing where runs keep no journal.
    QCoro::Task<> offerResume(ResumeRuns mode);
    // Closes the window for `cause` from outside (a signal's name), as its
    // close button does; a run under way is stopped with a line that says why.
    // The window may not have been shown yet: ending the event loop is the
    // caller's.
    void closeFor(const QString& cause);

    [[nodiscard]] MainWindow& window() { return *window_; }
    [[nodiscard]] record::EventLog& log() { return *log_; }
    [[nodiscard]] link::UsbLink& link() { return *link_; }
    [[nodiscard]] link::DeviceSearch& search() { return *search_; }
    [[nodiscard]] protocol::MessageBoxes& messageBoxes() { return *message_boxes_; }
    [[nodiscard]] link::DeviceChooser& chooser() { return *chooser_; }
    [[nodiscard]] protocol::Session& session() { return *session_; }

    // Lets valvectl reach this panel through a local socket of its own in
    // `directory` (by default the user's runtime directory). False, with the
    // reason in `error`, when it cannot listen there.
    bool acceptValvectl(const QString& directory = {}, QString* error = nullptr);
    [[nodiscard]] PanelRemote* remote() { return remote_.get(); }

    // Serves the unit over SiLA 2 as `plan` says, beside the window and the
    // local socket; false, with the reason in `error`, when it cannot.
    bool serveSila(const sila::ListenPlan& plan, QString* error = nullptr);
    [[nodiscard]] SilaWiring* sila() { return sila_.get(); }

private:
    // The real prompt windows, made only when no stand-in is given.
    std::unique_ptr<MessageBoxService> own_message_boxes_;
    std::unique_ptr<ChooserWindow> own_chooser_;
    protocol::MessageBoxes* message_boxes_;
    link::DeviceChooser* chooser_;

    sequencer::JournalFolder* journals_;
    bool connected_ = false;

    std::unique_ptr<record::EventLog> log_;
    std::unique_ptr<link::DeviceSearch> search_;
    std::unique_ptr<link::UsbLink> link_;
    // What the commands work with; made before the window, gone after it.
    std::unique_ptr<protocol::Exchange> exchange_;
    std::unique_ptr<protocol::PositionControl> positions_;
    std::unique_ptr<protocol::Session> session_;
    std::unique_ptr<MainWindow> window_;
    SequencerWiring* sequencer_wiring_ = nullptr; // the window owns it
    std::unique_ptr<PanelRemote> remote_;         // goes first: its commands use all of the above
    std::unique_ptr<SilaWiring> sila_;            // before the remote's core, which it calls
};

} // namespace valve::ui
