// The valve panel on the simulated unit, for trying it without hardware.
// `--units N` attaches N simulated units (with several, the chooser appears),
// `--fast` leaves out their line and move time (for load tests of the socket);
// `--log-file PATH` keeps the events log in a file.
#include "panel_program.h"
#include "remote/socket_directory.h"
#include "sim/simulated_driver.h"

#include <QApplication>
#include <QCommandLineParser>
#include <algorithm>

namespace {

// Only the unit's time to answer is left, so that commands sent at once still
// wait for each other in the panel as they do on a real line.
valve::sim::UnitTiming fastUnit() {
    valve::sim::UnitTiming timing = valve::sim::UnitTiming::instant();
    timing.processingTime = valve::sim::UnitTiming{}.processingTime;
    return timing;
}

} // namespace

int main(int argc, char** argv) {
    // Where valvectl finds the panel, worked out before the toolkit looks for it too.
    valve::remote::settleSocketDirectory();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("valve-panel-demo"));
    QCommandLineParser options;
    valve::app::addPanelOptions(options);
    const QCommandLineOption units(QStringLiteral("units"),
                                   QStringLiteral("Number of simulated units (1 to 9)."),
                                   QStringLiteral("count"), QStringLiteral("1"));
    options.addOption(units);
    const QCommandLineOption fast(
        QStringLiteral("fast"),
        QStringLiteral("Units with no line or move time, for load tests: each still takes "
                       "its 0.2 ms to answer."));
    options.addOption(fast);
    options.process(app);

    valve::sim::SimulatedDriver driver;
    driver.setCallLogEnabled(false); // only tests read it; a long demo would keep growing it
    const int count = std::clamp(options.value(units).toInt(), 1, 9);
    for (int i = 0; i < count; ++i) {
        driver.addAdapter(QByteArrayLiteral("NR Valve Unit ") + char('A' + i),
                          options.isSet(fast) ? fastUnit() : valve::sim::UnitTiming{});
    }
    return valve::app::runPanel(options, driver);
}
