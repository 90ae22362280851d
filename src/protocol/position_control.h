#pragma once

#include <cstdint>
#include <functional>
#include <qcoro/qcorotask.h>

namespace valve::record {}

namespace valve::record {
class EventLog;
}

namespace valve::protocol {

class Exchange;

// Moving the valve: "P" with the position, then "S" to read where it stands.
class PositionControl {
public:
    PositionControl(Exchange& exchange, record::EventLog& log) : exchange_(exchange), log_(log) {}

    // True when the unit then reports the requested position. Logs exactly one
    // line in every case. The caller holds the link's operation turn.
    QCoro::Task<bool> set_position(std::int16_t position);

    // Told of every position the unit reports, whoever asked: a move's check,
    // homing, a status read.
    void setOnReported(std::function<void(int)> reported) { reported_ = std::move(reported); }
    void report(int position) const {
        if (reported_) {
            reported_(position);
        }
    }

private:
    std::function<void(int)> reported_;
    Exchange& exchange_;
    record::EventLog& log_;
};

} // namespace valve::protocol
