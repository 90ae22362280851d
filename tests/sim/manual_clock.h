#pragma once

#include "sim/sim_time.h"

#include <functional>

namespace valve::sim::testing {

// A clock that moves only when the test says so.
class ManualClock {
public:
    [[nodiscard]] SimTime now() const { return now_; }
    void advance(SimDuration by) { now_ += by; }
    [[nodiscard]] std::function<SimTime()> function() {
        return [this] { return now_; };
    }

private:
    SimTime now_{std::chrono::seconds{1000}};
};

} // namespace valve::sim::testing
