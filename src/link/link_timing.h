#pragma once

#include <chrono>

namespace valve::link {

// Time limits of the link. The defaults are the unit's; tests inject shorter ones.
struct LinkTiming {
    std::chrono::milliseconds replyTimeout{3000};   // one reply character
    std::chrono::milliseconds reconnectPause{1000}; // after a failed reconnection
    std::chrono::milliseconds pollInterval{1};      // only for backends that cannot notify
};

} // namespace valve::link
