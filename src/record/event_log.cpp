#include "event_log.h"

namespace valve::record {

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
    lines_.append(text);
    times_.append(QDateTime::currentDateTime());
    emit lineAppended(text, source);
}

void EventLog::clear() {
    if (closed_) {
        return;
    }
    lines_.clear();
    times_.clear();
    emit cleared();
}

} // namespace valve::record
