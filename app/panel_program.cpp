#include "panel_program.h"

#include "cli/signal_watch.h"
#include "link/ftdi_driver.h"
#include "record/event_log.h"
#include "sequencer/logind_sleep_inhibitor.h"
#include "sequencer/realtimekit_priority.h"
#include "sequencer/run_journal.h"
#include "ui/log_file_option.h"
#include "ui/panel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

namespace valve::app {

void addPanelOptions(QCommandLineParser& options) {
    options.addHelpOption();
    options.addOption(ui::logFileOption());
}

int runPanel(const QCommandLineParser& options, link::FtdiDriver& driver) {
    sequencer::LogindSleepInhibitor keepAwake;
    sequencer::RealtimeKitPriority priority;
    sequencer::JournalFolder journals; // every run keeps one
    ui::Panel panel(driver, {}, {}, {.inhibitor = &keepAwake, .priority = &priority, .journals = &journals});
    // What the backend must tell the operator (an adapter the user may not
    // open, say) goes to the events log.
    driver.setDiagnosticSink([&panel](const QString& line) { panel.log().show_link_msg(line); });
    // A log-out, a kill or Ctrl-C closes the panel as its close button does:
    // the port is closed (libftdi1 hands the adapter back to ftdi_sio), the
    // socket removed, the kept log closed. A second signal ends it at once.
    // Watched before the socket exists: a client that finds it can count on this.
    cli::SignalWatch watch(
        [&panel](int signal) {
            panel.closeFor(cli::SignalWatch::name(signal));
            QCoreApplication::exit(0); // also when the window was never shown
        },
        cli::SignalWatch::Later::EndAtOnce);
    // valvectl reaches the panel through a local socket; without it the panel works on.
    if (QString error; !panel.acceptValvectl({}, &error)) {
        std::fprintf(stderr, "valvectl cannot reach this panel: %s\n", qPrintable(error));
    }
    ui::keepLogFileIfAsked(options, panel.log());
    panel.start();
    const int exitCode = QApplication::exec();
    driver.setDiagnosticSink({}); // the driver outlives the panel
    return exitCode;
}

} // namespace valve::app
