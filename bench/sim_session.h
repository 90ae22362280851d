#pragma once

// One connected session on a simulated unit, as the benchmarks drive it: the
// same parts the panel composes, without the windows.
#include "bench_support.h"
#include "link/device_search.h"
#include "link/usb_link.h"
#include "protocol/exchange.h"
#include "protocol/position_control.h"
#include "protocol/session.h"
#include "record/event_log.h"
#include "sim/simulated_driver.h"

namespace valve::bench {

class SimSession {
public:
    explicit SimSession(sim::UnitTiming timing = {}) : timing_(timing) {
        driver.setWireRecordEnabled(true);
        driver.addAdapter("NR Valve Unit", timing_);
        driver.setCallLogEnabled(false);
        runToEnd([this]() -> QCoro::Task<> { co_await link.configure_usb_connection(); });
    }

protected:
    sim::UnitTiming timing_; // 19200 baud and 200 us to answer unless told otherwise
    sim::SimulatedDriver driver;
    FirstDeviceChooser chooser;
    record::EventLog log;
    link::DeviceSearch search{driver, chooser, log};
    link::UsbLink link{driver, search, log};
    protocol::Exchange exchange{link};
    protocol::PositionControl positions{exchange, log};
    SilentBoxes boxes;
    protocol::Session session{link, log, boxes, exchange, positions};
};

} // namespace valve::bench
