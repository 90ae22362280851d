// The simulated unit's command parser and command execution. The input is cut
// at every CR into lines; the first line runs on a fresh unit, the following
// ones on the same unit, so that address selection, writes and read-backs
// meet each other.

#include "fuzz_check.h"
#include "protocol/codec.h"
#include "protocol/unit_terms.h"
#include "sim/command_line.h"
#include "sim/unit_commands.h"
#include "sim/unit_state.h"

#include <QByteArray>
#include <QByteArrayView>
#include <cstddef>
#include <cstdint>

using valve::sim::CommandOutcome;
using valve::sim::ParsedCommand;
using valve::sim::UnitState;
using Kind = ParsedCommand::Kind;

namespace {

bool isUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Commands answered with a value reply; every other known code gets an
// acknowledgement.
bool isQuery(char code) {
    return QByteArrayView("SERQD123G").contains(code);
}

// A line as the host writes it: a known code, then two upper-case hex digits
// exactly when the code takes an argument.
bool wellFormed(QByteArrayView line) {
    if (line.isEmpty() || !valve::sim::isCommandCode(line[0])) {
        return false;
    }
    if (!valve::sim::takesArgument(line[0])) {
        return line.size() == 1;
    }
    return line.size() == 3 && isUpperHexDigit(line[1]) && isUpperHexDigit(line[2]);
}

void checkParse(QByteArrayView line, const ParsedCommand& parsed) {
    if (line.isEmpty()) {
        FUZZ_CHECK(parsed.kind == Kind::Empty);
        return;
    }
    FUZZ_CHECK(parsed.kind != Kind::Empty);
    FUZZ_CHECK(parsed.code == line[0]);
    FUZZ_CHECK((parsed.kind == Kind::Unknown) == !valve::sim::isCommandCode(line[0]));
    FUZZ_CHECK(parsed.valid() == wellFormed(line));
    if (parsed.valid()) {
        // Written again the way the host writes it, the command is the line itself.
        FUZZ_CHECK(parsed.hasArgument == valve::sim::takesArgument(parsed.code));
        const QByteArray rewritten = parsed.hasArgument
                                         ? valve::protocol::commandLine(parsed.code, parsed.argument)
                                         : valve::protocol::commandLine(parsed.code);
        FUZZ_CHECK(rewritten.chopped(1) == line);
    }
}

// Whatever the host can write for a known code parses back to what it meant.
void checkHostLine(char code, std::uint8_t argument) {
    if (!valve::sim::isCommandCode(code)) {
        return;
    }
    const bool withArgument = valve::sim::takesArgument(code);
    const QByteArray line =
        withArgument ? valve::protocol::commandLine(code, argument) : valve::protocol::commandLine(code);
    FUZZ_CHECK(line.endsWith(valve::protocol::kCarriageReturn));
    const ParsedCommand parsed = valve::sim::parseCommandLine(QByteArrayView(line).chopped(1));
    FUZZ_CHECK(parsed.valid());
    FUZZ_CHECK(parsed.code == code);
    FUZZ_CHECK(parsed.hasArgument == withArgument);
    FUZZ_CHECK(!withArgument || parsed.argument == argument);
}

bool sameSettings(const UnitState& a, const UnitState& b) {
    return a.position == b.position && a.lastError == b.lastError && a.revision == b.revision &&
           a.opMode == b.opMode && a.commandMode == b.commandMode && a.portPositions == b.portPositions &&
           a.baudCode == b.baudCode && a.i2cAddress == b.i2cAddress &&
           a.selectedAddress == b.selectedAddress && a.ackCharacter == b.ackCharacter &&
           a.replyTerminator == b.replyTerminator;
}

bool inErrorStack(int address) {
    return address >= UnitState::kErrorStackFirst &&
           address < UnitState::kErrorStackFirst + UnitState::kErrorStackSize;
}

void checkMemoryChanges(const ParsedCommand& command, const UnitState& before, const UnitState& after,
                        bool refused) {
    for (int address = 0; address < 256; ++address) {
        const auto index = static_cast<std::size_t>(address);
        if (before.memory[index] == after.memory[index]) {
            continue;
        }
        const bool written = command.valid() && command.code == 'W' && address == before.selectedAddress;
        FUZZ_CHECK(written || (refused && inErrorStack(address)));
    }
    if (refused) {
        FUZZ_CHECK(after.memory[UnitState::kErrorStackFirst] == after.lastError);
    }
}

void checkValueReply(const ParsedCommand& command, const UnitState& before, const CommandOutcome& outcome) {
    FUZZ_CHECK(outcome.reply.size() == 3);
    FUZZ_CHECK(isUpperHexDigit(outcome.reply[0]) && isUpperHexDigit(outcome.reply[1]));
    FUZZ_CHECK(outcome.reply[2] == before.replyTerminator);
    valve::protocol::ReplyBuffer buffer;
    buffer.slot = {outcome.reply[0], outcome.reply[1], outcome.reply[2]};
    if (command.code == 'G') {
        FUZZ_CHECK(buffer.value() == before.memory[command.argument]);
    } else if (command.code == 'S') {
        FUZZ_CHECK(buffer.value() == before.position);
    } else if (command.code == 'E') {
        FUZZ_CHECK(buffer.value() == before.lastError);
    }
}

void checkAcknowledged(const ParsedCommand& command, const UnitState& before, const UnitState& after) {
    switch (command.code) {
    case 'I':
        FUZZ_CHECK(after.selectedAddress == command.argument);
        break;
    case 'W':
        FUZZ_CHECK(after.memory[before.selectedAddress] == command.argument);
        break;
    case 'P':
        FUZZ_CHECK(after.position == command.argument);
        break;
    case 'M':
        FUZZ_CHECK(after.position == 1);
        break;
    default:
        break;
    }
}

void checkExecution(const ParsedCommand& command, UnitState& state) {
    const UnitState before = state;
    const CommandOutcome outcome = valve::sim::executeCommand(command, state);
    const qsizetype replySize = outcome.reply.size();
    FUZZ_CHECK(replySize == 0 || replySize == 1 || replySize == 3);
    // Settings with a fixed range never leave it, whatever the line.
    FUZZ_CHECK(state.position >= 1 && state.position <= valve::protocol::kPositionCount);
    FUZZ_CHECK(state.commandMode >= 1 && state.commandMode <= 5);
    FUZZ_CHECK(state.baudCode >= 1 && state.baudCode <= 4);
    FUZZ_CHECK(outcome.moveSteps >= 0 && outcome.moveSteps <= valve::protocol::kPositionCount / 2);

    const bool refused = replySize == 0 && command.kind != Kind::Empty;
    checkMemoryChanges(command, before, state, refused);
    if (command.kind == Kind::Empty) {
        FUZZ_CHECK(replySize == 0 && sameSettings(before, state) && before.memory == state.memory);
        return;
    }
    if (!command.valid()) {
        FUZZ_CHECK(replySize == 0 && state.lastError == UnitState::kCommandError);
        return;
    }
    if (isQuery(command.code)) {
        checkValueReply(command, before, outcome);
        FUZZ_CHECK(sameSettings(before, state) && before.memory == state.memory);
        return;
    }
    if (refused) {
        // Only an out-of-range argument is refused; nothing moves.
        FUZZ_CHECK(state.lastError != 0 && state.position == before.position && outcome.moveSteps == 0);
        return;
    }
    FUZZ_CHECK(replySize == 1 && outcome.reply[0] == before.ackCharacter);
    FUZZ_CHECK(outcome.moveSteps == valve::sim::stepsBetween(before.position, state.position));
    checkAcknowledged(command, before, state);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    if (size >= 2) {
        checkHostLine(static_cast<char>(data[0]), data[1]);
    }
    UnitState unit;
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = input.indexOf(valve::protocol::kCarriageReturn, start);
        const QByteArrayView line = input.sliced(start, (end < 0 ? input.size() : end) - start);
        const ParsedCommand parsed = valve::sim::parseCommandLine(line);
        checkParse(line, parsed);
        checkExecution(parsed, unit);
        if (end < 0) {
            break;
        }
        start = end + 1;
    }
    return 0;
}
