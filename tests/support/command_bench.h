#pragma once

#include "coro_test.h"
#include "link/device_search.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"
#include "protocol/exchange.h"
#include "protocol/position_control.h"
#include "protocol/session.h"
#include "record/event_log.h"
#include "sim/simulated_driver.h"

#include <QStringList>
#include <memory>

namespace valve::testing {

using namespace std::chrono_literals;

// A session on one simulated unit, connected, with the log and the wire empty.
class CommandBench {
public:
    explicit CommandBench(sim::UnitTiming unitTiming = sim::UnitTiming::instant(),
                          std::chrono::milliseconds replyTimeout = 150ms) {
        driver.setWireRecordEnabled(true);
        driver.addAdapter("NR Valve", unitTiming);
        link =
            std::make_unique<link::UsbLink>(driver, search, log, link::LinkTiming{replyTimeout, 10ms, 1ms});
        exchange = std::make_unique<protocol::Exchange>(*link);
        positions = std::make_unique<protocol::PositionControl>(*exchange, log);
        session =
            std::make_unique<protocol::Session>(protocol::Session{*link, log, boxes, *exchange, *positions});
        connected = await(link->configure_usb_connection());
        log.clear();
        wire().clear();
        driver.clearCallLog();
    }

    sim::SimulatedUnit& unit() { return driver.unit(0); }
    sim::WireRecord& wire() { return driver.wire(0); }
    QList<QByteArray> sent() { return wire().hostLines(); }
    QStringList logLines() const { return log.lines(); }
    // How often the link was probed (the check sends no bytes to the unit).
    qsizetype probes() const { return driver.callTexts().filter(QStringLiteral("FT_SetFlowControl")).size(); }

    sim::SimulatedDriver driver;
    PickingChooser chooser;
    record::EventLog log;
    link::DeviceSearch search{driver, chooser, log};
    ScriptedBoxes boxes;
    std::unique_ptr<link::UsbLink> link;
    std::unique_ptr<protocol::Exchange> exchange;
    std::unique_ptr<protocol::PositionControl> positions;
    std::unique_ptr<protocol::Session> session;
    bool connected = false;
};

} // namespace valve::testing
