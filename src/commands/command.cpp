#include "command.h"

#include "config/entry_conversion.h"
#include "config/memory_editor.h"
#include "protocol/unit_terms.h"
#include "sequencer/run_journal.h"

#include <algorithm>
#include <functional>

namespace valve::commands {

namespace {

using Kind = Command::Kind;

// A subcommand's checks of its arguments: fills the command, or says what is wrong.
using ArgumentCheck = std::function<QString(const QStringList& arguments, Command& command)>;

struct Syntax {
    const char* name;
    Kind kind;
    int fewest;
    int most;
    const char* usage;
    const char* help;
};

constexpr int kMemoryCells =
    config::MemoryEditor::kLastDataColumn - config::MemoryEditor::kFirstDataColumn + 1;

constexpr Syntax kSyntax[] = {
    {"list", Kind::List, 0, 0, "list", "every adapter: description, serial number, free or open elsewhere"},
    {"status", Kind::Status, 0, 0, "status", "the valve's current position"},
    {"error", Kind::Error, 0, 0, "error", "the unit's last error code"},
    {"command-mode", Kind::CommandMode, 0, 0, "command-mode", "the command mode"},
    {"firmware", Kind::Firmware, 0, 0, "firmware", "the firmware revision"},
    {"op-mode", Kind::OpMode, 0, 0, "op-mode", "the operational mode"},
    {"ports", Kind::Ports, 0, 0, "ports", "the custom positions of ports A, B and C"},
    {"clock", Kind::Clock, 0, 0, "clock", "the clock setting in MHz"},
    {"move", Kind::Move, 1, 1, "move N", "move the valve to position N (1-12)"},
    {"home", Kind::Home, 0, 0, "home", "home the valve"},
    {"set clock", Kind::SetClock, 1, 1, "set clock 4|20", "set the clock speed in MHz"},
    {"set baud", Kind::SetBaud, 1, 1, "set baud 9600|19200|38400|57600", "set the unit's baud rate"},
    {"set command-mode", Kind::SetCommandMode, 1, 1, "set command-mode MODE",
     "Level, Pulse, BCD, Inverted-BCD, Dual-Pulse, or the code 1-5"},
    {"set ports", Kind::SetPorts, 3, 3, "set ports A B C",
     "positions (0-255) for ports A, B, C; - keeps one"},
    {"set op-mode", Kind::SetOpMode, 1, 1, "set op-mode N --yes", "set the operational mode (0-255)"},
    {"set i2c", Kind::SetI2c, 1, 1, "set i2c HEX", "set the I2C address (00-FF)"},
    {"memory read", Kind::MemoryRead, 0, kMemoryCells, "memory read [ADDR...]",
     "the bytes at ADDR (hex, 10-1F), all sixteen by default"},
    {"memory write", Kind::MemoryWrite, 1, kMemoryCells, "memory write ADDR=VALUE...",
     "write bytes (hex) and read each back"},
    {"errors read", Kind::ErrorsRead, 0, 0, "errors read", "the five entries of the error stack"},
    {"errors clear", Kind::ErrorsClear, 0, 0, "errors clear", "clear the error stack and verify it"},
    {"run", Kind::Run, 1, 1, "run ROUTINE_FILE", "run a routine file: up to 20 \"seconds,position\" lines"},
    {"stop", Kind::Stop, 0, 0, "stop", "stop the running panel's routine run, whoever started it"},
    {"runs show", Kind::RunsShow, 1, 1, "runs show ID",
     "a past run from its journal: each step and how it ended"},
    {"runs", Kind::Runs, 0, 0, "runs", "the journals of past runs, newest first, with how each ended"},
};

QString refusal(const Command& command, const QString& what) {
    return command.name() + QStringLiteral(": ") + what;
}

// A byte given in decimal (0..255).
std::optional<std::uint8_t> decimalArgument(const QString& text) {
    const auto value = wholeNumber(text, 255);
    return value ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*value)) : std::nullopt;
}

// Hexadecimal digits only, with or without "0x"; read as the panel reads its
// hexadecimal box (00..FF).
std::optional<std::uint8_t> hexArgument(QString text) {
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        text = text.mid(2);
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const auto isHexDigit = [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    };
    if (!std::all_of(text.cbegin(), text.cend(), isHexDigit)) {
        return std::nullopt;
    }
    return config::hexEntry(text);
}

std::optional<std::uint8_t> memoryAddress(const QString& text) {
    const auto address = hexArgument(text);
    const auto first = config::MemoryEditor::addressOf(config::MemoryEditor::kFirstDataColumn);
    const auto last = config::MemoryEditor::addressOf(config::MemoryEditor::kLastDataColumn);
    if (!address || *address < first || *address > last) {
        return std::nullopt;
    }
    return address;
}

QString checkMove(const QStringList& arguments, Command& command) {
    const auto position = wholeNumber(arguments[0], protocol::kLastPosition);
    if (!position || *position < protocol::kFirstPosition) {
        return refusal(command,
                       QStringLiteral("\"%1\" is not a position from 1 to 12").arg(quoted(arguments[0])));
    }
    command.value = static_cast<std::uint8_t>(*position);
    return {};
}

// One of a fixed set of words, each standing for the byte it sends.
using Choices = QList<std::pair<QString, std::uint8_t>>;
QString checkChoice(const QString& argument, Command& command, const Choices& choices,
                    const QString& expected) {
    for (const auto& [word, code] : choices) {
        if (argument == word) {
            command.value = code;
            return {};
        }
    }
    return refusal(command, QStringLiteral("\"%1\" is not %2").arg(quoted(argument), expected));
}

// A clock speed as its number of MHz.
Choices clockChoices() {
    Choices choices;
    for (const std::uint8_t speed : protocol::kClockSpeeds) {
        choices.append({QString::number(speed), speed});
    }
    return choices;
}

// A baud rate as its number of bits per second.
Choices baudChoices() {
    Choices choices;
    for (const protocol::BaudRate& rate : protocol::kBaudRates) {
        choices.append({QString::number(rate.bitsPerSecond), rate.code});
    }
    return choices;
}

QString checkCommandMode(const QStringList& arguments, Command& command) {
    // A name in any case, with a dash or a blank between its words, or its code.
    QString wanted = arguments[0];
    if (const auto code = wholeNumber(wanted, protocol::kCommandModes.back().code)) {
        command.modeName = protocol::commandModeName(*code);
    } else {
        wanted.replace(QLatin1Char('-'), QLatin1Char(' '));
        for (const protocol::CommandMode& mode : protocol::kCommandModes) {
            if (wanted.compare(QLatin1String(mode.name), Qt::CaseInsensitive) == 0) {
                command.modeName = QString::fromLatin1(mode.name);
            }
        }
    }
    if (command.modeName.isEmpty()) {
        return refusal(
            command, QStringLiteral(
                         "\"%1\" is not a command mode (Level, Pulse, BCD, Inverted-BCD, Dual-Pulse or 1-5)")
                         .arg(quoted(arguments[0])));
    }
    return {};
}

QString checkPorts(const QStringList& arguments, Command& command) {
    for (int port = 0; port < 3; ++port) {
        if (arguments[port] == QLatin1String("-")) {
            continue;
        }
        command.ports[port] = decimalArgument(arguments[port]);
        if (!command.ports[port]) {
            return refusal(command, QStringLiteral("port %1: \"%2\" is not a number from 0 to 255")
                                        .arg(QChar(u'A' + port))
                                        .arg(quoted(arguments[port])));
        }
    }
    if (!command.ports[0] && !command.ports[1] && !command.ports[2]) {
        return refusal(command, QStringLiteral("no port to set (each is \"-\")"));
    }
    return {};
}

QString checkByte(const QString& argument, Command& command, bool hex) {
    const auto value = hex ? hexArgument(argument) : decimalArgument(argument);
    if (!value) {
        return refusal(command,
                       QStringLiteral("\"%1\" is not a %2")
                           .arg(quoted(argument), hex ? QStringLiteral("hexadecimal number from 00 to FF")
                                                      : QStringLiteral("number from 0 to 255")));
    }
    command.value = *value;
    return {};
}

QString checkMemoryRead(const QStringList& arguments, Command& command) {
    for (const QString& argument : arguments) {
        const auto address = memoryAddress(argument);
        if (!address) {
            return refusal(
                command,
                QStringLiteral("\"%1\" is not a memory address from 10 to 1F").arg(quoted(argument)));
        }
        command.addresses.push_back(*address);
    }
    if (command.addresses.empty()) {
        for (int column = config::MemoryEditor::kFirstDataColumn;
             column <= config::MemoryEditor::kLastDataColumn; ++column) {
            command.addresses.push_back(config::MemoryEditor::addressOf(column));
        }
    }
    return {};
}

QString checkMemoryWrite(const QStringList& arguments, Command& command) {
    for (const QString& argument : arguments) {
        const auto address = memoryAddress(argument.section(QLatin1Char('='), 0, 0));
        const QString value = argument.section(QLatin1Char('='), 1).toUpper();
        if (!argument.contains(QLatin1Char('=')) || !address) {
            return refusal(command, QStringLiteral("\"%1\" is not ADDR=VALUE with an address from 10 to 1F")
                                        .arg(quoted(argument)));
        }
        if (!config::MemoryEditor::isByteText(value)) {
            return refusal(command,
                           QStringLiteral("\"%1\": the value must be two hexadecimal digits, 00 to FF")
                               .arg(quoted(argument)));
        }
        for (const auto& [earlier, unused] : command.writes) {
            if (earlier == *address) {
                return refusal(command, QStringLiteral("address %1 is given twice")
                                            .arg(quoted(argument.section(QLatin1Char('='), 0, 0))));
            }
        }
        command.writes.emplace_back(*address, value);
    }
    return {};
}

ArgumentCheck checkFor(Kind kind, const RoutineReader& readRoutine) {
    switch (kind) {
    case Kind::Move:
        return checkMove;
    case Kind::SetClock:
        return [](const QStringList& a, Command& c) {
            return checkChoice(a[0], c, clockChoices(), QStringLiteral("4 or 20"));
        };
    case Kind::SetBaud:
        return [](const QStringList& a, Command& c) {
            return checkChoice(a[0], c, baudChoices(), QStringLiteral("9600, 19200, 38400 or 57600"));
        };
    case Kind::SetCommandMode:
        return checkCommandMode;
    case Kind::SetPorts:
        return checkPorts;
    case Kind::SetOpMode:
        return [](const QStringList& a, Command& c) { return checkByte(a[0], c, false); };
    case Kind::SetI2c:
        return [](const QStringList& a, Command& c) { return checkByte(a[0], c, true); };
    case Kind::MemoryRead:
        return checkMemoryRead;
    case Kind::MemoryWrite:
        return checkMemoryWrite;
    case Kind::RunsShow:
        return [](const QStringList& a, Command& c) {
            c.journal = a[0];
            return sequencer::isJournalId(a[0])
                       ? QString()
                       : refusal(c, QStringLiteral("%1 is not a run's id").arg(quoted(a[0])));
        };
    case Kind::Run:
        return [&readRoutine](const QStringList& a, Command& c) {
            c.routineName = a[0];
            const sequencer::RoutineRead read = readRoutine(a[0]);
            c.steps = read.steps;
            return read.error;
        };
    default:
        return [](const QStringList&, Command&) { return QString(); };
    }
}

const Syntax* findSyntax(const QStringList& words, int& nameWords) {
    for (const Syntax& syntax : kSyntax) {
        const QStringList name = QString::fromLatin1(syntax.name).split(QLatin1Char(' '));
        if (words.mid(0, name.size()) == name) {
            nameWords = static_cast<int>(name.size());
            return &syntax;
        }
    }
    return nullptr;
}

// For a first word that needs a second one ("set", "memory", "errors"): the
// second words it takes.
QStringList secondWords(const QString& first) {
    QStringList seconds;
    for (const Syntax& syntax : kSyntax) {
        const QStringList name = QString::fromLatin1(syntax.name).split(QLatin1Char(' '));
        if (name.size() == 2 && name[0] == first) {
            seconds << name[1];
        }
    }
    return seconds;
}

} // namespace

QString Command::name() const {
    for (const Syntax& syntax : kSyntax) {
        if (syntax.kind == kind) {
            return QString::fromLatin1(syntax.name);
        }
    }
    return {};
}

std::optional<int> wholeNumber(const QString& text, int most) {
    if (text.isEmpty()) {
        return std::nullopt;
    }
    int value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        const int digit = c.unicode() - u'0';
        if (most - digit < 0 || value > (most - digit) / 10) {
            return std::nullopt; // above `most`, however long the number goes on
        }
        value = value * 10 + digit;
    }
    return value;
}

QString quoted(const QString& text) {
    constexpr qsizetype kLongest = 40;
    QString shown;
    for (const QChar c : text.left(kLongest)) {
        // A control character would act on the terminal or cut the message short.
        shown += c.category() == QChar::Other_Control
                     ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                     : QString(c);
    }
    return text.size() <= kLongest ? shown : shown + QStringLiteral("...");
}

ParsedCommand parseCommand(const QStringList& words, const QByteArray& routine) {
    return parseCommand(words,
                        [&routine](const QString& name) { return sequencer::parseRoutine(routine, name); });
}

ParsedCommand parseCommand(const QStringList& words, const RoutineReader& readRoutine) {
    if (words.isEmpty()) {
        return {std::nullopt, QStringLiteral("no subcommand given (see valvectl --help)")};
    }
    int nameWords = 0;
    const Syntax* syntax = findSyntax(words, nameWords);
    if (syntax == nullptr) {
        const QStringList seconds = secondWords(words[0]);
        if (!seconds.isEmpty()) {
            return {std::nullopt,
                    QStringLiteral("%1: expected one of %2, found \"%3\"")
                        .arg(words[0], seconds.join(QStringLiteral(", ")), quoted(words.value(1)))};
        }
        return {std::nullopt,
                QStringLiteral("unknown subcommand \"%1\" (see valvectl --help)").arg(quoted(words[0]))};
    }
    Command command;
    command.kind = syntax->kind;
    command.words = words;
    const QStringList arguments = words.mid(nameWords);
    if (arguments.size() < syntax->fewest) {
        return {std::nullopt, refusal(command, QStringLiteral("missing argument (usage: valvectl %1)")
                                                   .arg(QString::fromLatin1(syntax->usage)))};
    }
    if (arguments.size() > syntax->most) {
        return {
            std::nullopt,
            refusal(command, QStringLiteral("unexpected argument \"%1\" (usage: valvectl %2)")
                                 .arg(quoted(arguments[syntax->most]), QString::fromLatin1(syntax->usage)))};
    }
    if (const QString error = checkFor(command.kind, readRoutine)(arguments, command); !error.isEmpty()) {
        return {std::nullopt, error};
    }
    return {command, {}};
}

QString subcommandHelp() {
    QString help = QStringLiteral("Subcommands:\n");
    for (const Syntax& syntax : kSyntax) {
        help += QStringLiteral("  %1%2\n")
                    .arg(QString::fromLatin1(syntax.usage), -34)
                    .arg(QString::fromLatin1(syntax.help));
    }
    return help;
}

} // namespace valve::commands
