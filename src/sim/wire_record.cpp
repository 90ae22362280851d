#include "wire_record.h"

#include <QtGlobal>

namespace valve::sim {

namespace {

void mustBeOn(bool enabled) {
    if (!enabled) {
        qFatal("the wire record is read but was never switched on");
    }
}

} // namespace

void WireRecord::addByte(Direction direction, char value, SimTime at) {
    if (!enabled_) {
        return;
    }
    bytes_.push_back({direction, value, at});
    if (direction == Direction::HostToUnit && value == '\r') {
        ++completedHostLines_;
    }
}

void WireRecord::addOverlap(SimTime at) {
    if (enabled_) {
        overlaps_.push_back({completedHostLines_, at});
    }
}

const std::vector<WireRecord::Byte>& WireRecord::bytes() const {
    mustBeOn(enabled_);
    return bytes_;
}

const std::vector<WireRecord::Overlap>& WireRecord::overlaps() const {
    mustBeOn(enabled_);
    return overlaps_;
}

void WireRecord::clear() {
    bytes_.clear();
    overlaps_.clear();
    completedHostLines_ = 0;
}

QByteArray WireRecord::bytesOf(Direction direction) const {
    QByteArray result;
    for (const Byte& byte : bytes()) {
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
    for (const Byte& byte : bytes()) {
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
