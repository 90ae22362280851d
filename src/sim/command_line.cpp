#include "command_line.h"

#include <QByteArray>

namespace valve::sim {

namespace {

int upperHexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

bool takesArgument(char code) {
    return QByteArrayView("GPIWXFABCON").contains(code);
}

bool isCommandCode(char code) {
    return takesArgument(code) || QByteArrayView("SERQD123M").contains(code);
}

ParsedCommand parseCommandLine(QByteArrayView line) {
    ParsedCommand result;
    if (line.isEmpty()) {
        return result;
    }
    result.code = line.front();
    if (!isCommandCode(result.code)) {
        result.kind = ParsedCommand::Kind::Unknown;
        return result;
    }
    if (!takesArgument(result.code)) {
        result.kind = line.size() == 1 ? ParsedCommand::Kind::Valid : ParsedCommand::Kind::BadArgument;
        return result;
    }
    if (line.size() != 3) {
        result.kind = ParsedCommand::Kind::BadArgument;
        return result;
    }
    const int high = upperHexDigit(line[1]);
    const int low = upperHexDigit(line[2]);
    if (high < 0 || low < 0) {
        result.kind = ParsedCommand::Kind::BadArgument;
        return result;
    }
    result.kind = ParsedCommand::Kind::Valid;
    result.hasArgument = true;
    result.argument = static_cast<std::uint8_t>(high * 16 + low);
    return result;
}

} // namespace valve::sim
