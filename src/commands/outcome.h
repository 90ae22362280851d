#pragma once

#include "command.h"

#include <QJsonObject>
#include <QStringList>

namespace valve::commands {

// How a command ended, whichever way it went (valvectl's own link or the
// panel's), in a form that prints as text or as JSON and travels over the
// panel's socket.
struct Outcome {
    QString command; // the subcommand's name ("set clock"), or its first word when it was refused
    int exitCode = kSucceeded;
    QJsonObject values; // the command's results, by name
    QStringList out;    // what the text output shows on standard output: the result
    // What it shows on standard error: the failure, in the panel's words; or,
    // when the command succeeded, the link's own lines and hints.
    QStringList err;
    QStringList log; // every events-log line of the command's own operations

    [[nodiscard]] static Outcome failed(int exitCode, const QString& message) {
        Outcome outcome;
        outcome.exitCode = exitCode;
        outcome.err << message;
        return outcome;
    }
};

// Which way a command went.
enum class Route { Direct, Panel };

// The one JSON object valvectl prints for a command: its name, the route,
// the exit code, the values, the events-log lines and the failure, if any.
QJsonObject toJson(const Outcome& outcome, const QString& command, Route route);
// What the panel's socket sends: toJson's object, with the lines that text
// output shows on standard error after a success.
QJsonObject toMessageJson(const Outcome& outcome, const QString& command);
// Back from what toJson or toMessageJson made.
Outcome outcomeFromJson(const QJsonObject& json);

} // namespace valve::commands
