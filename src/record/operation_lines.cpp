#include "operation_lines.h"

#include <algorithm>

namespace valve::record {

OperationLines::OperationLines(EventLog& log) : log_(log) {
    connection_ = QObject::connect(&log_, &EventLog::lineAppended,
                                   [this](const QString& text, LineSource source) { take(text, source); });
}

OperationLines::~OperationLines() {
    QObject::disconnect(connection_);
}

void OperationLines::claim(std::uint32_t operation) {
    if (operation != 0) {
        operations_.push_back(operation);
    }
}

void OperationLines::show_msg(const QString& text) {
    writing_ = true;
    log_.show_msg(text, {operations_.empty() ? 0 : operations_.back(), LineKind::Report});
    writing_ = false;
}

void OperationLines::take(const QString& text, LineSource source) {
    // Few operations are claimed, and a line most often belongs to the last.
    const auto claimed = std::find(operations_.rbegin(), operations_.rend(), source.operation);
    if (writing_ || (source.operation != 0 && claimed != operations_.rend())) {
        lines_.append({text, source});
    }
}

QStringList OperationLines::texts() const {
    QStringList texts;
    for (const LogLine& line : lines_) {
        texts << line.text;
    }
    return texts;
}

QStringList OperationLines::texts(LineKind kind) const {
    QStringList texts;
    for (const LogLine& line : lines_) {
        if (line.source.kind == kind) {
            texts << line.text;
        }
    }
    return texts;
}

} // namespace valve::record
