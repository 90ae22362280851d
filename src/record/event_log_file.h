#pragma once

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>

namespace valve::record {

class EventLog;

// One line of a kept events log: the wall-clock time with its offset from
// UTC, a tab, the line as the log shows it, a newline.
QByteArray keptLine(const QDateTime& time, const QString& text);

// Saves the lines the events log holds, each with its time; empty on
// success, otherwise why it failed. An earlier file stays intact on failure.
QString saveEventsLog(const EventLog& log, const QString& path);

// Appends every line the events log shows from now on to a file, at once,
// so that a long run leaves its record even when the machine goes down. Each
// line is one small write on the logic thread. When the file cannot be opened
// or written (a missing folder, a full disk), one line in the events log says
// so and the file is left alone from then on; the panel goes on.
class EventLogFile : public QObject {
    Q_OBJECT
public:
    EventLogFile(EventLog& log, const QString& path);

private:
    void append(const QString& text);
    void fail();

    EventLog& log_;
    QFile file_;
    bool failed_ = false;
};

} // namespace valve::record
