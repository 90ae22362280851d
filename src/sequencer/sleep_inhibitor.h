#pragma once

#include <functional>
#include <memory>

namespace valve::sequencer {

// Keeps the computer awake for as long as it is held.
class SleepHold {
public:
    virtual ~SleepHold() = default;
};

// Keeps the computer from going to sleep while a run lasts.
class SleepInhibitor {
public:
    virtual ~SleepInhibitor() = default;

    // Asks for the computer to stay awake and returns without waiting for the
    // answer. `cannotKeepAwake` is called at most once, and never after the
    // hold is gone: when the request is refused or cannot be made, or when
    // the keeping ends before the hold does.
    [[nodiscard]] virtual std::unique_ptr<SleepHold> hold(std::function<void()> cannotKeepAwake) = 0;
};

} // namespace valve::sequencer
