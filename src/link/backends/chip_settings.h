#pragma once

// How both backends set up an adapter's chip right after the open, so that a
// reply reaches the host as soon as it ends rather than when the chip's
// latency timer runs out.
#include "link/ftdi_driver.h"

#include <array>
#include <cstdint>

namespace valve::link::chip {

// The latency timer, lowest first: the FT232R and later chips take 1 ms,
// while some versions of FTDI's library accept no less than 2.
inline constexpr std::array<std::uint8_t, 2> kLatencyTimerChoicesMs{1, 2};
// The chip's default, which holds a reply back for up to that long.
inline constexpr int kDefaultLatencyTimerMs = 16;
// Replies end in CR: with it as the event character the chip sends what it
// holds the moment the reply's last byte arrives. A reply that ends otherwise
// waits for the latency timer; how many characters a read wants is unchanged.
inline constexpr char kEventCharacter = '\r';

// Sets the lowest latency timer the chip accepts through `set` (a status per
// value tried); the value set, or 0 when it took none.
template <typename Set> std::uint8_t setLowestLatencyTimer(Set set) {
    for (const std::uint8_t milliseconds : kLatencyTimerChoicesMs) {
        if (set(milliseconds) == ft::OK) {
            return milliseconds;
        }
    }
    return 0;
}

} // namespace valve::link::chip
