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

    // Room for the lines a list of them needs to drop the oldest and take a
    // new one without growing (kMaxLines and half as many again): a fuller
    // list grows, and one line at a time ends up with more than twice the room.
    static constexpr qsizetype kRoom = kMaxLines + kMaxLines / 2 + 2;

    explicit EventLog(QObject* parent = nullptr);

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
    // `text`, or an equal line among the latest: a long session repeats a
    // handful of lines, and the log keeps one copy of each.
    QString shared(const QString& text);

    QStringList lines_;
    QStringList recent_; // the latest different lines, newest last
    QList<QDateTime> times_;
    bool closed_ = false;
};

} // namespace valve::link
