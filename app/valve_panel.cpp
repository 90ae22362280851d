// The valve panel on a real FTDI adapter.
#include "link/event_log.h"
#include "link/hardware_driver.h"
#include "ui/log_file_option.h"
#include "ui/panel.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    options.addOption(valve::ui::logFileOption());
    options.process(app);

    auto hardware = valve::link::makeHardwareDriver();
    valve::ui::Panel panel(*hardware.driver);
    // What the backend must tell the operator (an adapter the user may not
    // open, say) goes to the events log.
    hardware.driver->setDiagnosticSink([&panel](const QString& line) { panel.log().show_msg(line); });
    valve::ui::keepLogFileIfAsked(options, panel.log());
    panel.start();
    return QApplication::exec();
}
