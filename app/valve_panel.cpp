// The valve panel on a real FTDI adapter.
#include "link/backends/hardware_driver.h"
#include "panel_program.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser options;
    valve::app::addPanelOptions(options);
    options.process(app);

    auto hardware = valve::link::makeHardwareDriver();
    return valve::app::runPanel(options, *hardware.driver);
}
