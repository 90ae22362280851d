#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QStringList>

namespace valve::link {

// The events log of the main window: one line per message, in order of
// arrival, bounded so that a long session cannot grow it without end. The
// wall-clock time of each line is kept beside it; the lines stay bare.
class EventLog : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 32767;

    using QObject::QObject;

    // Appends one line; at the bound the oldest line is dropped first.
    void show_msg(const QString& text);
    void clear();
    // After shut-down nothing more is logged.
    void close() { closed_ = true; }

    [[nodiscard]] const QStringList& lines() const { return lines_; }
    // When each line was shown, index for index with lines().
    [[nodiscard]] const QList<QDateTime>& times() const { return times_; }

signals:
    void lineAppended(const QString& text);
    void firstLineDropped();
    void cleared();

private:
    QStringList lines_;
    QList<QDateTime> times_;
    bool closed_ = false;
};

} // namespace valve::link
