#include "printing.h"

#include <QJsonDocument>

namespace valve::cli {

namespace {

void printLines(std::FILE* stream, const QStringList& lines) {
    for (const QString& line : lines) {
        std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
    }
}

} // namespace

void printJson(std::FILE* stream, const QJsonObject& json) {
    std::fprintf(stream, "%s\n", QJsonDocument(json).toJson(QJsonDocument::Compact).constData());
    std::fflush(stream);
}

void printOutcome(const commands::Outcome& outcome, const QString& command, commands::Route route,
                  bool json) {
    if (json) {
        printJson(stdout, commands::toJson(outcome, command, route));
        return;
    }
    printLines(stdout, outcome.out);
    std::fflush(stdout);
    printLines(stderr, outcome.err);
}

} // namespace valve::cli
