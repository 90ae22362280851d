#include "outcome.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace valve::commands {

namespace {

const QString kCommand = QStringLiteral("command");
const QString kRoute = QStringLiteral("route");
const QString kExitCode = QStringLiteral("exit_code");
const QString kLog = QStringLiteral("log");
const QString kError = QStringLiteral("error");
const QString kOutput = QStringLiteral("output");
const QString kNotes = QStringLiteral("notes");

QStringList strings(const QJsonValue& value) {
    QStringList list;
    for (const auto& each : value.toArray()) {
        list << each.toString();
    }
    return list;
}

} // namespace

QJsonObject toJson(const Outcome& outcome, const QString& command, Route route) {
    QJsonObject json = outcome.values;
    json.insert(kCommand, command);
    json.insert(kRoute, route == Route::Panel ? QStringLiteral("panel") : QStringLiteral("direct"));
    json.insert(kExitCode, outcome.exitCode);
    json.insert(kOutput, QJsonArray::fromStringList(outcome.out));
    json.insert(kLog, QJsonArray::fromStringList(outcome.log));
    if (outcome.exitCode != kSucceeded && !outcome.err.isEmpty()) {
        json.insert(kError, outcome.err.join(QLatin1Char('\n')));
    }
    return json;
}

QJsonObject toMessageJson(const Outcome& outcome, const QString& command) {
    QJsonObject json = toJson(outcome, command, Route::Panel);
    if (outcome.exitCode == kSucceeded && !outcome.err.isEmpty()) {
        json.insert(kNotes, QJsonArray::fromStringList(outcome.err));
    }
    return json;
}

Outcome outcomeFromJson(const QJsonObject& json) {
    Outcome outcome;
    outcome.exitCode = json.value(kExitCode).toInt(kUnitFailed);
    outcome.out = strings(json.value(kOutput));
    outcome.log = strings(json.value(kLog));
    if (json.contains(kError)) {
        outcome.err = json.value(kError).toString().split(QLatin1Char('\n'));
    } else {
        outcome.err = strings(json.value(kNotes));
    }
    outcome.values = json;
    for (const QString& key : {kCommand, kRoute, kExitCode, kOutput, kLog, kError, kNotes}) {
        outcome.values.remove(key);
    }
    return outcome;
}

} // namespace valve::commands
