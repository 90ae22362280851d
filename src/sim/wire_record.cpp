#include "wire_record.h"

namespace valve::sim {

void WireRecord::addByte(Direction direction, char value, SimTime at) {
    bytes_.push_back({direction, value, at});
    if (direction == Direction::HostToUnit && value == '\r') {
        ++completedHostLines_;
    }
}

void WireRecord::clear() {
    bytes_.clear();
    overlaps_.clear();
    completedHostLines_ = 0;
}

QByteArray WireRecord::bytesOf(Direction direction) const {
    QByteArray result;
    for (const Byte& byte : bytes_) {
        if (byte.direction == direction) {
            result.append(byte.value);
        }
    }
    return result;
}

QList<QByteArray> WireRecord::hostLines() const {
    QList<QByteArray> lines;
    QByteArray current;
    for (const char c : hostBytes()) {
        current.append(c);
        if (c == '\r') {
            lines.append(current);
            current.clear();
        }
    }
    if (!current.isEmpty()) {
        lines.append(current);
    }
    return lines;
}

std::vector<SimTime> WireRecord::hostLineStarts(char code) const {
    std::vector<SimTime> times;
    bool lineStart = true;
    for (const Byte& byte : bytes_) {
        if (byte.direction != Direction::HostToUnit) {
            continue;
        }
        if (lineStart && byte.value == code) {
            times.push_back(byte.at);
        }
        lineStart = byte.value == '\r';
    }
    return times;
}

} // namespace valve::sim
