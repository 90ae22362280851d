#pragma once

#include "link/ftdi_driver.h"

#include <QString>
#include <memory>

namespace valve::link {

struct HardwareDriver {
    std::unique_ptr<FtdiDriver> driver;
    QString name; // "D2XX" or "libftdi1", for the log and the About box
};

// FTDI's D2XX library when the system has it (with libftdi1 for adapters the
// kernel's ftdi_sio holds), libftdi1 otherwise.
HardwareDriver makeHardwareDriver();

} // namespace valve::link
