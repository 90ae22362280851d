#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace valve::protocol {

// The valve's positions, numbered 1 to 12: the position buttons and the
// moves the unit takes.
inline constexpr int kFirstPosition = 1;
inline constexpr int kLastPosition = 12;
inline constexpr int kPositionCount = kLastPosition - kFirstPosition + 1;
[[nodiscard]] constexpr bool isValvePosition(int position) {
    return position >= kFirstPosition && position <= kLastPosition;
}

// The clock speeds the unit runs at, in MHz; the byte that sets one is the
// speed itself. The unit keeps it in non-volatile memory at kClockAddress.
inline constexpr std::array<std::uint8_t, 2> kClockSpeeds{4, 20};
inline constexpr std::uint8_t kClockAddress = 0x20;

// A baud rate the unit can talk at, and the code "X" sets it with.
struct BaudRate {
    int bitsPerSecond;
    std::uint8_t code;
};
inline constexpr std::array<BaudRate, 4> kBaudRates{{{9600, 1}, {19200, 2}, {38400, 3}, {57600, 4}}};

// The unit's command modes, in the order of their codes: read with "D", set
// with "F".
struct CommandMode {
    const char* name;
    std::uint8_t code;
};
inline constexpr std::array<CommandMode, 5> kCommandModes{
    {{"Level", 1}, {"Pulse", 2}, {"BCD", 3}, {"Inverted BCD", 4}, {"Dual Pulse", 5}}};

// The name of the command mode with `code`; empty for any other code.
QString commandModeName(int code);
// The code of a command mode name; the comparison is exact and case-sensitive.
std::optional<std::uint8_t> commandModeCode(const QString& name);

// The three ports whose custom positions the unit keeps.
enum class Port { A, B, C };
// "A", "B" or "C".
char portLetter(Port port);

} // namespace valve::protocol
