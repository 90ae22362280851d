#pragma once

#include "event_log.h"

#include <QList>
#include <QMetaObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace valve::record {

struct LogLine {
    QString text;
    LineSource source;
};

// The events-log lines of a few operations (those of one valvectl command, or
// of one run), collected as they are shown, whatever else the log shows in
// between: other commands' lines, the window's, a reconnect that another
// operation made.
class OperationLines {
public:
    explicit OperationLines(EventLog& log);
    ~OperationLines();
    OperationLines(const OperationLines&) = delete;
    OperationLines& operator=(const OperationLines&) = delete;

    // The lines of `operation` are collected from now on (0, no operation, is not).
    void claim(std::uint32_t operation);
    // Logs a line of these operations written outside their turns (between
    // the steps of a run, say). It is theirs even before the first is claimed.
    void show_msg(const QString& text);

    [[nodiscard]] const QList<LogLine>& lines() const { return lines_; }
    [[nodiscard]] QStringList texts() const;
    [[nodiscard]] QStringList texts(LineKind kind) const;

private:
    void take(const QString& text, LineSource source);

    EventLog& log_;
    std::vector<std::uint32_t> operations_; // claimed, in order
    QList<LogLine> lines_;
    QMetaObject::Connection connection_;
    bool writing_ = false;
};

} // namespace valve::record
