#include "event_log.h"

namespace valve::link {

void EventLog::show_msg(const QString& text) {
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
    emit lineAppended(text);
}

void EventLog::clear() {
    if (closed_) {
        return;
    }
    lines_.clear();
    times_.clear();
    emit cleared();
}

} // namespace valve::link
