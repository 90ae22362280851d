#pragma once

#include <chrono>

namespace valve::link {

// Time limits of the link. The defaults are the unit's; tests inject shorter ones.
struct LinkTiming {
    std::chrono::milliseconds replyTimeout{3000};   // one reply character
    std::chrono::milliseconds reconnectPause{1000}; // after a failed reconnection
    std::chrono::milliseconds pollInterval{1};      // only for backends that cannot notify
    // How long after a reply the adapter is still read (backends that read on
    // demand); negative: for good.
    std::chrono::milliseconds receiveGrace{100};
};

} // namespace valve::link
