#pragma once

#include "command_line.h"
#include "unit_state.h"

#include <QByteArray>

namespace valve::sim {

// What one command does to the unit and what it answers.
struct CommandOutcome {
    QByteArray reply;  // empty: the unit does not answer
    int moveSteps = 0; // position steps the valve travels before the reply
};

// Number of steps between two positions: the valve turns the shorter way round.
int stepsBetween(int from, int to);

// Carries out one parsed command on `state`. Lines that are not valid, and
// valid commands with an argument out of range (a position other than 1..12,
// a command mode other than 1..5, a baud code other than 1..4), get no answer
// and record an error code.
CommandOutcome executeCommand(const ParsedCommand& command, UnitState& state);

// Two upper-case hex digits and the terminator.
QByteArray valueReply(std::uint8_t value, char terminator);

} // namespace valve::sim
