#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace valve::protocol {

// The unit's command modes, read with "D" and set with "F", by code 1..5.
// An empty name for any other code.
QString commandModeName(int code);
// The code of a command mode name; the comparison is exact and case-sensitive.
std::optional<std::uint8_t> commandModeCode(const QString& name);

// The three ports whose custom positions the unit keeps.
enum class Port { A, B, C };
// "A", "B" or "C".
char portLetter(Port port);

} // namespace valve::protocol
