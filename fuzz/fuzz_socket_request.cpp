// The panel's socket as any local process of its user may feed it: the input
// is a byte stream, cut into lines as the server cuts them; each line is
// decoded, and a command's words and routine are checked as the command core
// checks them before anything reaches the unit.

#include "commands/command.h"
#include "fuzz_check.h"
#include "protocol/unit_terms.h"
#include "remote/messages.h"
#include "sequencer/event_table.h"

#include <QBuffer>
#include <QJsonArray>
#include <cstddef>
#include <cstdint>

using valve::commands::Command;
namespace remote = valve::remote;

namespace {

// What a checked command carries is what the panel's own checks let through.
void checkCommand(const Command& command) {
    switch (command.kind) {
    case Command::Kind::Move:
        FUZZ_CHECK(command.value >= valve::protocol::kFirstPosition &&
                   command.value <= valve::protocol::kLastPosition);
        break;
    case Command::Kind::Run:
        FUZZ_CHECK(!command.steps.empty());
        FUZZ_CHECK(command.steps.size() <= static_cast<std::size_t>(valve::sequencer::kEventRows));
        for (const auto& step : command.steps) {
            FUZZ_CHECK(step.seconds >= 0.0 && step.seconds <= valve::sequencer::kMaxEventTime);
        }
        break;
    case Command::Kind::MemoryWrite:
        FUZZ_CHECK(!command.writes.empty());
        for (const auto& [address, value] : command.writes) {
            FUZZ_CHECK(value.size() == 2);
        }
        break;
    default:
        break;
    }
}

void checkLine(const QByteArray& line) {
    FUZZ_CHECK(line.size() <= remote::kMaxMessageBytes && !line.contains('\n'));
    const remote::Message message = remote::decode(line);
    FUZZ_CHECK(message.error.isEmpty() != message.type.isEmpty());
    if (!message.error.isEmpty()) {
        return;
    }
    // What was taken goes out again as the same message.
    const remote::Message again = remote::decode(remote::encode(message.type, message.body).chopped(1));
    FUZZ_CHECK(again.error.isEmpty() && again.type == message.type && again.body == message.body);
    if (message.type != remote::type::kCommand) {
        return;
    }
    const auto words = remote::commandWords(message.body.value(QStringLiteral("words")));
    if (!words) {
        return;
    }
    FUZZ_CHECK(!words->isEmpty() && words->size() <= remote::kMostWords);
    const auto parsed = valve::commands::parseCommand(
        *words, message.body.value(QStringLiteral("routine")).toString().toUtf8());
    FUZZ_CHECK(parsed.command.has_value() == parsed.error.isEmpty());
    if (parsed.command) {
        checkCommand(*parsed.command);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QBuffer stream;
    stream.setData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    stream.open(QIODevice::ReadOnly);
    QByteArray line;
    while (remote::takeLine(stream, line) == remote::LineState::Complete) {
        checkLine(line);
    }
    return 0;
}
