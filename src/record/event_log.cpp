#include "event_log.h"

namespace valve::record {

EventLog::EventLog(QObject* parent) : QObject(parent) {
    // Only what is used is resident; the room is there from the start.
    lines_.reserve(kRoom);
    times_.reserve(kRoom);
}

void EventLog::show_msg(const QString& text) {
    show_msg(text, {current_, LineKind::Report});
}

void EventLog::show_link_msg(const QString& text) {
    show_msg(text, {current_, LineKind::Link});
}

void EventLog::show_msg(const QString& text, LineSource source) {
    if (closed_) {
        return;
    }
    if (lines_.size() >= kMaxLines) {
        lines_.removeFirst();
        times_.removeFirst();
        emit firstLineDropped();
    }
    const QString line = shared(text);
    lines_.append(line);
    times_.append(QDateTime::currentDateTime());
    emit lineAppended(line, source);
}

QString EventLog::shared(const QString& text) {
    constexpr qsizetype kRecent = 64;
    for (qsizetype i = recent_.size() - 1; i >= 0; --i) {
        if (recent_.at(i) == text) {
            return recent_.at(i);
        }
    }
    recent_.append(text);
    if (recent_.size() > kRecent) {
        recent_.removeFirst();
    }
    return text;
}

void EventLog::clear() {
    if (closed_) {
        return;
    }
    lines_.clear();
    times_.clear();
    lines_.reserve(kRoom); // the room stays, unless a copy of the lines took it along
    times_.reserve(kRoom);
    emit cleared();
}

} // namespace valve::record
