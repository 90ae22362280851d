// The valve panel on the simulated unit, for trying it without hardware.
// `--units N` attaches N simulated units (with several, the chooser appears);
// `--log-file PATH` keeps the events log in a file.
#include "panel_program.h"
#include "sim/simulated_driver.h"

#include <QApplication>
#include <QCommandLineParser>
#include <algorithm>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("valve-panel-demo"));
    QCommandLineParser options;
    valve::app::addPanelOptions(options);
    const QCommandLineOption units(QStringLiteral("units"),
                                   QStringLiteral("Number of simulated units (1 to 9)."),
                                   QStringLiteral("count"), QStringLiteral("1"));
    options.addOption(units);
    options.process(app);

    valve::sim::SimulatedDriver driver;
    driver.setCallLogEnabled(false); // only tests read it; a long demo would keep growing it
    const int count = std::clamp(options.value(units).toInt(), 1, 9);
    for (int i = 0; i < count; ++i) {
        driver.addAdapter(QByteArrayLiteral("NR Valve Unit ") + char('A' + i));
    }
    return valve::app::runPanel(options, driver);
}
