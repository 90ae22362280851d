#pragma once

#include "coro_test.h"
#include "link/device_search.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"
#include "protocol/exchange.h"
#include "protocol/position_control.h"
#include "protocol/session.h"
#include "sequencer/sequencer.h"
#include "sequencer/stored_event_table.h"
#include "sim/simulated_driver.h"

#include <QStringList>
#include <chrono>
#include <vector>

namespace valve::testing {

// A sequencer over a stored table, driving a simulated unit through the link.
struct SequencerRig {
    static link::LinkTiming shortLimits() {
        link::LinkTiming timing;
        timing.replyTimeout = std::chrono::milliseconds{150};
        timing.reconnectPause = std::chrono::milliseconds{20};
        return timing;
    }

    explicit SequencerRig(sim::UnitTiming unitTiming = sim::UnitTiming::instant()) {
        driver.addAdapter("NR Valve Unit", unitTiming);
        await(link.configure_usb_connection());
        driver.wire(0).clear();
        log.clear();
    }

    // Starts "Run" without waiting for its end.
    void startRun() {
        [](SequencerRig& rig) -> QCoro::Task<> {
            rig.runEnded = false;
            co_await rig.sequencer.btnRun_Click();
            rig.runEnded = true;
        }(*this);
    }
    bool run(std::chrono::milliseconds limit = std::chrono::milliseconds{5000}) {
        startRun();
        return runUntil([this] { return runEnded; }, limit);
    }

    void setRows(const std::vector<std::pair<QString, QString>>& rows) {
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            table.setRow(row, rows[row].first, rows[row].second);
        }
    }

    // The move commands sent so far, as lines ("P03\r"), and when each reached the unit.
    [[nodiscard]] QList<QByteArray> moves() {
        QList<QByteArray> result;
        for (const auto& line : driver.wire(0).hostLines()) {
            if (line.startsWith('P')) {
                result.append(line);
            }
        }
        return result;
    }
    [[nodiscard]] std::vector<sim::SimTime> moveTimes() {
        std::vector<sim::SimTime> times;
        bool lineStart = true;
        for (const auto& byte : driver.wire(0).bytes()) {
            if (byte.direction != sim::WireRecord::Direction::HostToUnit) {
                continue;
            }
            if (lineStart && byte.value == 'P') {
                times.push_back(byte.at);
            }
            lineStart = byte.value == '\r';
        }
        return times;
    }

    [[nodiscard]] bool allIdle() const {
        for (int row = 0; row < sequencer::kEventRows; ++row) {
            if (table.look(row) != sequencer::RowLook::Idle) {
                return false;
            }
        }
        return true;
    }

    sim::SimulatedDriver driver;
    PickingChooser chooser;
    link::EventLog log;
    link::DeviceSearch search{driver, chooser, log};
    link::UsbLink link{driver, search, log, shortLimits()};
    protocol::Exchange exchange{link};
    protocol::PositionControl positions{exchange, log};
    ScriptedBoxes boxes;
    protocol::Session session{link, log, boxes, exchange, positions};
    sequencer::StoredEventTable table;
    sequencer::Sequencer sequencer{session, table};
    bool runEnded = true;
};

} // namespace valve::testing
