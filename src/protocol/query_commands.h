#pragma once

#include "unit_terms.h"

#include <QString>
#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::protocol {

struct Session;
class TextField;

// The events-log line for an error code the unit names (44, 55, 66, 77, 88
// and 99, compared as decimal values); nothing for any other code.
std::optional<QString> namedErrorLine(int code);

// The read commands. Each waits for the link's turn, sends its request, reads
// a three-character value reply and shows the value in its box. When the
// reply does not come in full, it logs its failure line and leaves the box as
// it was. Each returns the reply value, or nothing when the reply did not come
// (or, for "Read Command Mode", named no mode).

// "S": the valve's current position.
QCoro::Task<std::optional<int>> read_status(Session& session, TextField& txt_status);
// "E": a named error code goes into the box and its line into the log;
// any other code changes nothing.
QCoro::Task<std::optional<int>> read_error(Session& session, TextField& txt_error);
// "D", read with "Read Command Mode": the mode name; an unknown code empties
// the box and shows "Invalid Command Mode", and the read returns nothing.
QCoro::Task<std::optional<int>> read_control_method(Session& session, TextField& txt_control);
// "R": "Rev.", the revision letter, " Nerra".
QCoro::Task<std::optional<int>> read_firmware_revision(Session& session, TextField& txt_fw_rev);
// "Q": the operational mode number.
QCoro::Task<std::optional<int>> read_op_mode(Session& session, TextField& txt_op_mode);
// "D", read with "Read Cmd Mode": the mode name, or "Error".
QCoro::Task<std::optional<int>> read_cmd_mode(Session& session, TextField& txt_cmd_mode);
// "G20": the clock setting, shown as " 20 MHz".
QCoro::Task<std::optional<int>> read_clock(Session& session, TextField& txt_clock);
// "1", "2" or "3": the custom position of port A, B or C.
QCoro::Task<std::optional<int>> read_port_position(Session& session, Port port, TextField& txt_pos);

} // namespace valve::protocol
