#pragma once

#include <functional>
#include <memory>

namespace valve::sequencer {

// The raised priority of one thread, for as long as it is held: the thread
// goes back to the priority it had when the hold goes.
class PriorityHold {
public:
    virtual ~PriorityHold() = default;
};

// Raises the priority of the program's logic thread while a run lasts, so that
// other programs on a busy machine do not delay its steps' wake-ups.
class PriorityRaiser {
public:
    virtual ~PriorityRaiser() = default;

    // Asks for a raised priority of the calling thread and returns without
    // waiting for the answer. `cannotRaise` is called at most once, and never
    // after the hold is gone: when the request is refused or cannot be made.
    [[nodiscard]] virtual std::unique_ptr<PriorityHold> raise(std::function<void()> cannotRaise) = 0;
};

} // namespace valve::sequencer
