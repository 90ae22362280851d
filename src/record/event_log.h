#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QStringList>
#include <cstdint>

namespace valve::record {

// What kind of line an operation wrote.
enum class LineKind : std::uint8_t {
    Report, // the operation's own report: a change, a move, a failed exchange
    Link,   // the link's: the search, a reconnect, a failed close, a backend's diagnostic
};

// Which operation on the link wrote a line, by its number in the traffic
// record (0 for none: start-up, the panel's own lines, a line written between
// operations), and of what kind the line is.
struct LineSource {
    std::uint32_t operation = 0;
    LineKind kind = LineKind::Report;
};

// The events log of the main window: one line per message, in order of
// arrival, bounded so that a long session cannot grow it without end. The
// wall-clock time of each line is kept beside it; the lines stay bare. Each
// line is told with the operation that wrote it, so that a command reports
// its own lines and no other's.
class EventLog : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 32767;

    // Room for the lines a list of them needs to drop the oldest and take a
    // new one without growing (kMaxLines and half as many again): a fuller
    // list grows, and one line at a time ends up with more than twice the room.
    static constexpr qsizetype kRoom = kMaxLines + kMaxLines / 2 + 2;

    explicit EventLog(QObject* parent = nullptr);

    // Appends one line of the operation that holds the link now (of none when
    // no operation does); at the bound the oldest line is dropped first.
    void show_msg(const QString& text);
    // The same for a line of the link's own.
    void show_link_msg(const QString& text);
    // A line written outside the turn of the operation it belongs to (or of
    // none, with the default source).
    void show_msg(const QString& text, LineSource source);
    void clear();
    // After shut-down nothing more is logged.
    void close() { closed_ = true; }

    // The operation queue tells which operation holds the link: 0 for none.
    void setCurrentOperation(std::uint32_t operation) { current_ = operation; }

    [[nodiscard]] const QStringList& lines() const { return lines_; }
    // When each line was shown, index for index with lines().
    [[nodiscard]] const QList<QDateTime>& times() const { return times_; }

signals:
    void lineAppended(const QString& text, valve::record::LineSource source);
    void firstLineDropped();
    void cleared();

private:
    // `text`, or an equal line among the latest: a long session repeats a
    // handful of lines, and the log keeps one copy of each.
    QString shared(const QString& text);

    QStringList lines_;
    QStringList recent_; // the latest different lines, newest last
    QList<QDateTime> times_;
    std::uint32_t current_ = 0;
    bool closed_ = false;
};

} // namespace valve::record
