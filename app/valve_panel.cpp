// The valve panel on a real FTDI adapter.
#include "link/event_log.h"
#include "link/hardware_driver.h"
#include "remote/socket_directory.h"
#include "sequencer/logind_sleep_inhibitor.h"
#include "ui/log_file_option.h"
#include "ui/panel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

int main(int argc, char** argv) {
    // Where valvectl finds the panel, worked out before the toolkit looks for it too.
    valve::remote::settleSocketDirectory();
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    options.addOption(valve::ui::logFileOption());
    options.process(app);

    auto hardware = valve::link::makeHardwareDriver();
    valve::sequencer::LogindSleepInhibitor keepAwake;
    valve::ui::Panel panel(*hardware.driver, {}, {}, {.inhibitor = &keepAwake});
    // What the backend must tell the operator (an adapter the user may not
    // open, say) goes to the events log.
    hardware.driver->setDiagnosticSink([&panel](const QString& line) { panel.log().show_msg(line); });
    // valvectl reaches the panel through a local socket; without it the panel works on.
    if (QString error; !panel.acceptValvectl({}, &error)) {
        std::fprintf(stderr, "valvectl cannot reach this panel: %s\n", qPrintable(error));
    }
    valve::ui::keepLogFileIfAsked(options, panel.log());
    panel.start();
    return QApplication::exec();
}
