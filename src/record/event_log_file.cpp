#include "event_log_file.h"

#include "event_log.h"
#include "saved_file.h"

namespace valve::record {

QByteArray keptLine(const QDateTime& time, const QString& text) {
    const QDateTime withOffset = time.toOffsetFromUtc(time.offsetFromUtc());
    return (withOffset.toString(Qt::ISODateWithMs) + QLatin1Char('\t') + text + QLatin1Char('\n')).toUtf8();
}

QString saveEventsLog(const EventLog& log, const QString& path) {
    QByteArray contents;
    for (qsizetype i = 0; i < log.lines().size(); ++i) {
        contents += keptLine(log.times().at(i), log.lines().at(i));
    }
    return saveWholeFile(path, contents);
}

EventLogFile::EventLogFile(EventLog& log, const QString& path) : QObject(&log), log_(log), file_(path) {
    // Unbuffered: each line reaches the system at once, and a failure shows
    // at the write that met it.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        fail();
        return;
    }
    connect(&log_, &EventLog::lineAppended, this, &EventLogFile::append);
}

void EventLogFile::append(const QString& text) {
    if (failed_) {
        return;
    }
    const QByteArray line = keptLine(log_.times().constLast(), text);
    if (file_.write(line) != line.size()) {
        fail();
    }
}

void EventLogFile::fail() {
    // Marked first: the line below is itself appended to the log.
    failed_ = true;
    const QString reason = file_.errorString();
    file_.close();
    // The panel's own line, whichever operation's line met the failure.
    log_.show_msg(QStringLiteral("Could not write the log file %1 (%2); it is no longer written.")
                      .arg(file_.fileName(), reason),
                  {});
}

} // namespace valve::record
