#pragma once

#include <QByteArrayView>
#include <cstdint>

namespace valve::sim {

// What the unit makes of one received line (the bytes before its CR).
struct ParsedCommand {
    enum class Kind {
        Empty,       // nothing before the CR
        Unknown,     // the first character is no command code
        BadArgument, // a known code with a missing, extra or non-hex argument
        Valid,
    };

    Kind kind = Kind::Empty;
    char code = '\0';
    bool hasArgument = false;
    std::uint8_t argument = 0;

    [[nodiscard]] bool valid() const { return kind == Kind::Valid; }
};

// True for the codes that carry a two-digit hexadecimal argument.
bool takesArgument(char code);
// True for every command code the unit knows.
bool isCommandCode(char code);

// Pure and total: any byte sequence gives a result. The argument must be
// exactly two upper-case hexadecimal digits, as the host writes them; lower
// case, blanks or any other length make the line a BadArgument.
ParsedCommand parseCommandLine(QByteArrayView line);

} // namespace valve::sim
