#pragma once

#include "commands/outcome.h"

#include <QJsonObject>
#include <cstdio>

namespace valve::cli {

// Prints one JSON object on one line.
void printJson(std::FILE* stream, const QJsonObject& json);
// Prints the outcome: text lines to standard output and failures to standard
// error, or one JSON object to standard output.
void printOutcome(const commands::Outcome& outcome, const QString& command, commands::Route route, bool json);

} // namespace valve::cli
