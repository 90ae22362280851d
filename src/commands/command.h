#pragma once

#include "sequencer/routine_file.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace valve::commands {

// valvectl's exit codes.
inline constexpr int kSucceeded = 0;
inline constexpr int kUnitFailed = 1; // the unit or the link failed, or the command could not be carried out
inline constexpr int kBadUsage = 2;   // bad usage or bad input; nothing was sent

// One subcommand with its arguments, checked and converted: what it carries
// passes the panel's own range checks, so the unit is only asked for things
// the panel would send.
struct Command {
    enum class Kind {
        List,
        Status,
        Error,
        CommandMode,
        Firmware,
        OpMode,
        Ports,
        Clock,
        Move,
        Home,
        SetClock,
        SetBaud,
        SetCommandMode,
        SetPorts,
        SetOpMode,
        SetI2c,
        MemoryRead,
        MemoryWrite,
        ErrorsRead,
        ErrorsClear,
        Run,
        Stop,
        Runs,     // the journals of past runs
        RunsShow, // one run's journal
    };

    Kind kind = Kind::Status;
    QStringList words;      // the subcommand and its arguments as given
    std::uint8_t value = 0; // move, set clock/baud/op-mode/i2c: the byte the command sends
    QString modeName;       // set command-mode: the mode's name
    std::array<std::optional<std::uint8_t>, 3> ports{};   // set ports: A, B, C; nothing leaves one as it is
    std::vector<std::uint8_t> addresses;                  // memory read: the addresses to show
    std::vector<std::pair<std::uint8_t, QString>> writes; // memory write: address, two upper-case hex digits
    QString routineName;                                  // run: the routine file
    std::vector<sequencer::RoutineStep> steps;            // run: its steps
    QString journal;                                      // runs show: the run's journal
    QString continues;                                    // run: the journal of the run it resumes
    QDateTime timesFrom;                                  // run: where set, the moment its times count from

    // The name of the subcommand ("status", "set clock", "memory write").
    [[nodiscard]] QString name() const;
};

// A subcommand checked, or the message that refuses it (exit code 2).
struct ParsedCommand {
    std::optional<Command> command;
    QString error;
};

// Where "run" gets the routine it names: a file read, or the text a remote
// caller sent in its place.
using RoutineReader = std::function<sequencer::RoutineRead(const QString& name)>;

// Checks `words` (the subcommand and its arguments); "run" takes its routine
// from `readRoutine`.
ParsedCommand parseCommand(const QStringList& words, const RoutineReader& readRoutine);
// The same, with the routine's text handed in.
ParsedCommand parseCommand(const QStringList& words, const QByteArray& routine);

// A number argument, from the command line or through the panel's socket:
// ASCII digits only (no blank, sign, point or NUL), at most `most`.
std::optional<int> wholeNumber(const QString& text, int most);

// An argument as a message quotes it: a long one is cut short, and control
// characters are shown as \xNN.
QString quoted(const QString& text);

// The list of subcommands, for the help text.
QString subcommandHelp();

} // namespace valve::commands
