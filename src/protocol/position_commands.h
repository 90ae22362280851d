#pragma once

#include <cstdint>
#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::protocol {

struct Session;
class TextField;

// A position button: checks the link, moves the valve and, when the unit then
// reports the requested position, shows it in the position box. True when it did.
QCoro::Task<bool> move_valve(Session& session, std::int16_t position, TextField& position_box);

// "Home the Valve": "M", then "S"; shows the reported position. Logs
// "USB Error - could not talk to the device" when either reply does not come.
// The reported position, or nothing when it was not reported.
QCoro::Task<std::optional<int>> home_valve(Session& session, TextField& position_box);

} // namespace valve::protocol
