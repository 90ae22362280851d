#pragma once

#include <chrono>

namespace valve::sim {

// The simulation runs on the monotonic clock; every scheduled byte and every
// unit action carries an absolute time point on it.
using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;
using SimDuration = std::chrono::nanoseconds;

// One byte on a 19200 baud 8N1 line: start bit, 8 data bits, stop bit.
inline constexpr SimDuration kByteTime19200{520'833};

// How fast the simulated unit and its serial line are.
struct UnitTiming {
    SimDuration byteTime = kByteTime19200; // per byte, both directions; 0 = instant wire
    SimDuration processingTime = std::chrono::microseconds{200}; // from a complete line to the reply
    SimDuration moveTimePerStep = std::chrono::milliseconds{50}; // per position step of a move or homing

    // No wire time, no processing time, no move time: for tests that only care
    // about what is said, not when.
    static UnitTiming instant() { return {SimDuration{0}, SimDuration{0}, SimDuration{0}}; }
};

// Repetition count of an injected fault: a positive number of times, or always.
inline constexpr int kAlways = -1;

class FaultCount {
public:
    FaultCount() = default;
    explicit FaultCount(int times) : remaining_(times) {}

    [[nodiscard]] bool active() const { return remaining_ != 0; }
    // True when the fault applies to this occasion; uses one repetition up.
    bool take() {
        if (remaining_ == 0) {
            return false;
        }
        if (remaining_ > 0) {
            --remaining_;
        }
        return true;
    }

private:
    int remaining_ = 0;
};

} // namespace valve::sim
