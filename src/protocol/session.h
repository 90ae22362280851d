#pragma once

#include "exchange.h"
#include "position_control.h"

#include <QString>

namespace valve::link {
class UsbLink;
}

namespace valve::record {
class EventLog;
class OperationLines;
} // namespace valve::record

namespace valve::protocol {
class MessageBoxes;
}

namespace valve::protocol {

// What every operator command works with, owned by the panel for the whole
// run: the link (and its operation queue), the events log, the message boxes,
// the exchange with the shared reply buffer, and valve moves.
struct Session {
    link::UsbLink& link;
    record::EventLog& log;
    protocol::MessageBoxes& boxes;
    Exchange& exchange;
    PositionControl& positions;
    // Which front end the commands come from, named in the label of each
    // operation in the traffic record; empty for the panel's own window.
    QString origin = {};
    // Where the lines of the session's operations are collected, when a
    // command reports them (valvectl's); none for the window.
    record::OperationLines* lines = nullptr;
};

} // namespace valve::protocol
