#include "unit_commands.h"

#include "protocol/codec.h"
#include "protocol/unit_terms.h"

#include <algorithm>
#include <cstdlib>

namespace valve::sim {

namespace {

CommandOutcome ack(const UnitState& state) {
    return {QByteArray(1, state.ackCharacter), 0};
}

CommandOutcome value(const UnitState& state, std::uint8_t v) {
    return {valueReply(v, state.replyTerminator), 0};
}

CommandOutcome refuse(UnitState& state, std::uint8_t errorCode) {
    state.recordError(errorCode);
    return {};
}

CommandOutcome moveTo(UnitState& state, int target) {
    if (!protocol::isValvePosition(target)) {
        return refuse(state, UnitState::kPositioningError);
    }
    CommandOutcome outcome = ack(state);
    outcome.moveSteps = stepsBetween(state.position, target);
    state.position = target;
    return outcome;
}

} // namespace

int stepsBetween(int from, int to) {
    const int direct = std::abs(to - from) % protocol::kPositionCount;
    return std::min(direct, protocol::kPositionCount - direct);
}

QByteArray valueReply(std::uint8_t v, char terminator) {
    return protocol::byte2hex(v) + terminator;
}

CommandOutcome executeCommand(const ParsedCommand& command, UnitState& state) {
    if (!command.valid()) {
        // An empty line (a lone CR) is silently ignored; garbage counts as an error.
        return command.kind == ParsedCommand::Kind::Empty ? CommandOutcome{}
                                                          : refuse(state, UnitState::kCommandError);
    }
    const std::uint8_t arg = command.argument;
    switch (command.code) {
    case 'S':
        return value(state, static_cast<std::uint8_t>(state.position));
    case 'E':
        return value(state, state.lastError);
    case 'R':
        return value(state, static_cast<std::uint8_t>(state.revision));
    case 'Q':
        return value(state, state.opMode);
    case 'D':
        return value(state, state.commandMode);
    case '1':
    case '2':
    case '3':
        return value(state, state.portPositions[static_cast<std::size_t>(command.code - '1')]);
    case 'G':
        return value(state, state.memory[arg]);
    case 'P':
        return moveTo(state, arg);
    case 'M':
        return moveTo(state, 1);
    case 'I':
        state.selectedAddress = arg;
        return ack(state);
    case 'W':
        state.memory[state.selectedAddress] = arg;
        return ack(state);
    case 'X':
        if (std::ranges::none_of(protocol::kBaudRates,
                                 [arg](const auto& rate) { return rate.code == arg; })) {
            return refuse(state, UnitState::kCommandError);
        }
        state.baudCode = arg;
        return ack(state);
    case 'F':
        if (protocol::commandModeName(arg).isEmpty()) {
            return refuse(state, UnitState::kCommandError);
        }
        state.commandMode = arg;
        return ack(state);
    case 'A':
    case 'B':
    case 'C':
        state.portPositions[static_cast<std::size_t>(command.code - 'A')] = arg;
        return ack(state);
    case 'O':
        state.opMode = arg;
        return ack(state);
    case 'N':
        state.i2cAddress = arg;
        return ack(state);
    default:
        return refuse(state, UnitState::kCommandError);
    }
}

} // namespace valve::sim
