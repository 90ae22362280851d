#pragma once

#include <QCommandLineOption>

class QCommandLineParser;

namespace valve::record {
class EventLog;
}

namespace valve::ui {

// "--log-file PATH", taken by both panel executables: every events-log line,
// with its wall-clock time, is appended to PATH as it is shown.
QCommandLineOption logFileOption();
// Starts keeping the log file when the option was given.
void keepLogFileIfAsked(const QCommandLineParser& options, record::EventLog& log);

} // namespace valve::ui
