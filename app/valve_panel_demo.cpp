// The valve panel on the simulated unit, for trying it without hardware.
// `--units N` attaches N simulated units (with several, the chooser appears);
// `--log-file PATH` keeps the events log in a file.
#include "remote/socket_directory.h"
#include "sequencer/logind_sleep_inhibitor.h"
#include "sim/simulated_driver.h"
#include "ui/log_file_option.h"
#include "ui/panel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

int main(int argc, char** argv) {
    // Where valvectl finds the panel, worked out before the toolkit looks for it too.
    valve::remote::settleSocketDirectory();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("valve-panel-demo"));
    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption units(QStringLiteral("units"),
                                   QStringLiteral("Number of simulated units (1 to 9)."),
                                   QStringLiteral("count"), QStringLiteral("1"));
    options.addOption(units);
    options.addOption(valve::ui::logFileOption());
    options.process(app);

    valve::sim::SimulatedDriver driver;
    driver.setCallLogEnabled(false); // only tests read it; a long demo would keep growing it
    const int count = std::clamp(options.value(units).toInt(), 1, 9);
    for (int i = 0; i < count; ++i) {
        driver.addAdapter(QByteArrayLiteral("NR Valve Unit ") + char('A' + i));
    }
    valve::sequencer::LogindSleepInhibitor keepAwake;
    valve::ui::Panel panel(driver, {}, {}, {.inhibitor = &keepAwake});
    // valvectl reaches the panel through a local socket; without it the panel works on.
    if (QString error; !panel.acceptValvectl({}, &error)) {
        std::fprintf(stderr, "valvectl cannot reach this panel: %s\n", qPrintable(error));
    }
    valve::ui::keepLogFileIfAsked(options, panel.log());
    panel.start();
    return QApplication::exec();
}
