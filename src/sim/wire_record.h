#pragma once

#include "sim_time.h"

#include <QByteArray>
#include <QList>
#include <vector>

namespace valve::sim {

// Every byte that crossed the serial line between adapter and unit, in the
// order of its time: host bytes when they have reached the unit, unit bytes
// when they have become readable at the host.
//
// Kept only once switched on: tests and benchmarks read it, while a program
// on the simulated unit (the demo, valvectl --sim) would keep every byte of
// its life. Reading a record that is off is a mistake in the test and stops it.
class WireRecord {
public:
    enum class Direction { HostToUnit, UnitToHost };

    struct Byte {
        Direction direction;
        char value;
        SimTime at;
    };

    // A request that began while the reply to an earlier request was still
    // owed: not yet sent or still on the line when its first byte reached the
    // unit, or not yet read by the host when the host began to send it. The
    // unit cannot know whether the host had already given up on that reply.
    struct Overlap {
        int requestIndex; // index of the new request among hostLines()
        SimTime at;
    };

    void setEnabled(bool enabled) { enabled_ = enabled; }
    [[nodiscard]] bool enabled() const { return enabled_; }

    void addByte(Direction direction, char value, SimTime at);
    // Marks that the next host byte begins a request while a reply is owed.
    void addOverlap(SimTime at);
    void clear();

    [[nodiscard]] const std::vector<Byte>& bytes() const;
    [[nodiscard]] QByteArray hostBytes() const { return bytesOf(Direction::HostToUnit); }
    [[nodiscard]] QByteArray unitBytes() const { return bytesOf(Direction::UnitToHost); }
    // The host bytes split after each CR, the CR kept; an unfinished last
    // line is included as it stands.
    [[nodiscard]] QList<QByteArray> hostLines() const;
    // When the first byte of each host line that begins with `code` reached the unit.
    [[nodiscard]] std::vector<SimTime> hostLineStarts(char code) const;
    [[nodiscard]] const std::vector<Overlap>& overlaps() const;
    [[nodiscard]] bool interleaved() const { return !overlaps().empty(); }

private:
    [[nodiscard]] QByteArray bytesOf(Direction direction) const;

    bool enabled_ = false;
    std::vector<Byte> bytes_;
    std::vector<Overlap> overlaps_;
    int completedHostLines_ = 0;
};

} // namespace valve::sim
