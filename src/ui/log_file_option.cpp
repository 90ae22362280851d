#include "log_file_option.h"

#include "record/event_log_file.h"

#include <QCommandLineParser>

namespace valve::ui {

QCommandLineOption logFileOption() {
    return {QStringLiteral("log-file"),
            QStringLiteral("Append every events-log line, with its time, to <path> as it is shown."),
            QStringLiteral("path")};
}

void keepLogFileIfAsked(const QCommandLineParser& options, record::EventLog& log) {
    const QString path = options.value(logFileOption());
    if (!path.isEmpty()) {
        new record::EventLogFile(log, path); // owned by the log
    }
}

} // namespace valve::ui
