// The valve panel on a real FTDI adapter.
#include "link/backends/hardware_driver.h"
#include "panel_program.h"
#include "remote/socket_directory.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv) {
    // Where valvectl finds the panel, worked out before the toolkit looks for it too.
    valve::remote::settleSocketDirectory();
    QApplication app(argc, argv);
    QCommandLineParser options;
    valve::app::addPanelOptions(options);
    options.process(app);

    auto hardware = valve::link::makeHardwareDriver();
    return valve::app::runPanel(options, *hardware.driver);
}
