#include "panel.h"

#include "chooser_window.h"
#include "command_wiring.h"
#include "custom_config_wiring.h"
#include "link/device_search.h"
#include "link/usb_link.h"
#include "main_window.h"
#include "message_box_service.h"
#include "panel_remote.h"
#include "protocol/exchange.h"
#include "protocol/position_control.h"
#include "protocol/session.h"
#include "record/event_log.h"
#include "remote/panel_server.h"
#include "remote/socket_directory.h"
#include "routine_files.h"
#include "sequencer/run_journal.h"
#include "sequencer_wiring.h"
#include "sila/sila_server.h"
#include "sila_wiring.h"
#include "view_menu.h"

#include <cstring>

namespace valve::ui {

Panel::Panel(link::FtdiDriver& driver, link::LinkTiming timing, PanelPrompts prompts,
             sequencer::RunSupport runSupport)
    : message_boxes_(prompts.messageBoxes), chooser_(prompts.chooser), journals_(runSupport.journals),
      log_(std::make_unique<record::EventLog>()) {
    if (message_boxes_ == nullptr) {
        own_message_boxes_ = std::make_unique<MessageBoxService>();
        message_boxes_ = own_message_boxes_.get();
    }
    if (chooser_ == nullptr) {
        // No owner: the chooser can come up before the main window is shown.
        own_chooser_ = std::make_unique<ChooserWindow>();
        chooser_ = own_chooser_.get();
    }
    search_ = std::make_unique<link::DeviceSearch>(driver, *chooser_, *log_);
    link_ = std::make_unique<link::UsbLink>(driver, *search_, *log_, timing);
    exchange_ = std::make_unique<protocol::Exchange>(*link_);
    positions_ = std::make_unique<protocol::PositionControl>(*exchange_, *log_);
    session_ = std::make_unique<protocol::Session>(
        protocol::Session{*link_, *log_, *message_boxes_, *exchange_, *positions_});
    window_ = std::make_unique<MainWindow>(*log_, *link_, *message_boxes_);
    new CommandWiring(window_->controls(), *session_, window_.get());
    sequencer_wiring_ = new SequencerWiring(window_->controls(), *session_, window_.get(), runSupport);
    wireCustomConfiguration(*window_, *session_);
    // The Runs window reads the journals the panel writes.
    new ViewMenu(*window_, *link_, *log_, *message_boxes_,
                 runSupport.journals != nullptr ? runSupport.journals->dir()
                                                : sequencer::JournalFolder::defaultDir());
    new RoutineFiles(*window_, window_->controls(), *sequencer_wiring_, *message_boxes_);

    if (own_message_boxes_) {
        own_message_boxes_->setOwner(window_.get());
        window_->addShutDownStep([boxes = own_message_boxes_.get()] { boxes->setShuttingDown(); });
    }
    if (own_chooser_) {
        window_->addShutDownStep([chooser = own_chooser_.get()] { chooser->close(); });
    }
}

Panel::~Panel() {
    // The window goes first: it refers to the link and the log. Closing the
    // link ends the commands that valvectl sent through the socket as well.
    // The SiLA 2 server stops before all of them.
    sila_.reset();
    window_.reset();
    link_.reset();
    remote_.reset();
}

bool Panel::acceptValvectl(const QString& directory, QString* error) {
    const remote::SocketDirectory runtime =
        directory.isEmpty() ? remote::socketDirectory(true) : remote::SocketDirectory{directory, {}, {}};
    if (runtime.path.isEmpty()) {
        if (error != nullptr) {
            *error = runtime.problem;
        }
        return false;
    }
    remote_ = std::make_unique<PanelRemote>(*session_, window_->controls(), *sequencer_wiring_);
    if (!remote_->listen(runtime.path, error)) {
        remote_.reset();
        return false;
    }
    window_->addShutDownStep([remote = remote_.get()] { remote->server().close(); });
    return true;
}

bool Panel::serveSila(const sila::ListenPlan& plan, QString* error) {
    if (!remote_) {
        remote_ = std::make_unique<PanelRemote>(*session_, window_->controls(), *sequencer_wiring_);
    }
    const QString adapter = QString::fromLocal8Bit(link_->device_description().data());
    auto wiring = std::make_unique<SilaWiring>(*window_, *remote_, *session_, adapter);
    QObject::connect(&wiring->server(), &sila::SilaServer::message, log_.get(),
                     [log = log_.get()](const QString& line) { log->show_msg(line); });
    if (!wiring->start(plan, error)) {
        return false;
    }
    sila_ = std::move(wiring);
    window_->addShutDownStep([wiring = sila_.get()] { wiring->stop(); });
    return true;
}

void Panel::closeFor(const QString& cause) {
    sequencer_wiring_->sequencer().shut_down_for(cause);
    window_->close();
}

QCoro::Task<> Panel::start() {
    window_->set_program_version(kProgramVersion);
    const bool ok = co_await link_->configure_usb_connection();
    if (link_->is_shut_down()) {
        co_return; // the window was closed while the chooser was up: the program is ending
    }
    connected_ = ok;
    if (!ok) {
        // The panel's own line: no operation of a command wrote it.
        log_->show_msg(QStringLiteral("Could not connect to Nerra using USB"), {});
    }
    window_->fill_control_list();
    window_->show();
}

QCoro::Task<> Panel::offerResume(ResumeRuns mode) {
    if (journals_ == nullptr || !connected_ || link_->is_shut_down()) {
        co_return;
    }
    if (!remote_) {
        remote_ = std::make_unique<PanelRemote>(*session_, window_->controls(), *sequencer_wiring_);
    }
    const auto& description = link_->device_description();
    // Named, not braced into the co_await: GCC 12 destroys such a temporary twice.
    ResumeOfferParts parts{
        *journals_,
        *log_,
        *message_boxes_,
        *remote_,
        QString::fromLocal8Bit(description.data(),
                               static_cast<qsizetype>(strnlen(description.data(), description.size()))),
        QString::fromLocal8Bit(link_->device_serial())};
    co_await ui::offerResume(std::move(parts), mode);
}

} // namespace valve::ui
