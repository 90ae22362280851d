#pragma once

#include <memory>

namespace valve::link {
class UsbLink;
}

namespace valve::config {

// Whether the window an operation reports to is still open. An operation keeps
// a Watch across its waits; once the window has closed it ends at its next
// step without touching the window's state and without sending anything more.
class OperationLifetime {
public:
    class Watch {
    public:
        explicit operator bool() const { return *open_; }

    private:
        friend class OperationLifetime;
        explicit Watch(std::shared_ptr<const bool> open) : open_(std::move(open)) {}
        std::shared_ptr<const bool> open_;
    };

    OperationLifetime() = default;
    OperationLifetime(const OperationLifetime&) = delete;
    OperationLifetime& operator=(const OperationLifetime&) = delete;
    ~OperationLifetime() { end(); }

    // From now on every watch reports the window gone.
    void end() { *open_ = false; }
    [[nodiscard]] bool ended() const { return !*open_; }
    [[nodiscard]] Watch watch() const { return Watch{open_}; }

private:
    std::shared_ptr<bool> open_ = std::make_shared<bool>(true);
};

// An operation goes on after a wait only while its window is open and the
// program is not shutting down; the link is looked at only while the window,
// and so the session it works for, is still there.
bool goesOn(const OperationLifetime::Watch& watch, const link::UsbLink& link);

} // namespace valve::config
