#pragma once

#include <QObject>
#include <avahi-common/watch.h>

namespace valve::sila {

// Avahi's main-loop interface on the Qt event loop of this thread: its
// sockets watched by QSocketNotifier, its time-outs by QTimer. So Avahi's
// client needs no thread of its own, and its callbacks come on the logic
// thread.
class QtAvahiPoll {
public:
    QtAvahiPoll();
    QtAvahiPoll(const QtAvahiPoll&) = delete;
    QtAvahiPoll& operator=(const QtAvahiPoll&) = delete;

    [[nodiscard]] const AvahiPoll* poll() const { return &poll_; }

private:
    AvahiPoll poll_{};
};

} // namespace valve::sila
