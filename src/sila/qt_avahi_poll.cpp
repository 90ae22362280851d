#include "qt_avahi_poll.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <sys/time.h>

// The types Avahi's interface leaves to its implementer.
struct AvahiWatch {
    int fd = -1;
    AvahiWatchEvent events{};
    AvahiWatchEvent happened{};
    AvahiWatchCallback callback = nullptr;
    void* userdata = nullptr;
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
};

struct AvahiTimeout {
    AvahiTimeoutCallback callback = nullptr;
    void* userdata = nullptr;
    QTimer* timer = nullptr;
};

namespace valve::sila {

namespace {

void fire(AvahiWatch* watch, AvahiWatchEvent event) {
    watch->happened = event;
    watch->callback(watch, watch->fd, event, watch->userdata);
}

void watchUpdate(AvahiWatch* watch, AvahiWatchEvent events) {
    watch->events = events;
    watch->read->setEnabled((events & AVAHI_WATCH_IN) != 0);
    watch->write->setEnabled((events & AVAHI_WATCH_OUT) != 0);
}

AvahiWatch* watchNew(const AvahiPoll* /*api*/, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* userdata) {
    auto* watch = new AvahiWatch{fd, events, {}, callback, userdata, nullptr, nullptr};
    watch->read = new QSocketNotifier(fd, QSocketNotifier::Read);
    watch->write = new QSocketNotifier(fd, QSocketNotifier::Write);
    QObject::connect(watch->read, &QSocketNotifier::activated, watch->read,
                     [watch] { fire(watch, AVAHI_WATCH_IN); });
    QObject::connect(watch->write, &QSocketNotifier::activated, watch->write,
                     [watch] { fire(watch, AVAHI_WATCH_OUT); });
    watchUpdate(watch, events);
    return watch;
}

AvahiWatchEvent watchGetEvents(AvahiWatch* watch) {
    return watch->happened;
}

// May come from within the watch's own callback: the notifiers go once it returns.
void watchFree(AvahiWatch* watch) {
    watch->read->setEnabled(false);
    watch->write->setEnabled(false);
    watch->read->deleteLater();
    watch->write->deleteLater();
    delete watch;
}

void timeoutUpdate(AvahiTimeout* timeout, const struct timeval* when) {
    if (when == nullptr) {
        timeout->timer->stop();
        return;
    }
    struct timeval now {};
    gettimeofday(&now, nullptr);
    const qint64 ms =
        (qint64{when->tv_sec} - now.tv_sec) * 1000 + (qint64{when->tv_usec} - now.tv_usec) / 1000;
    timeout->timer->start(static_cast<int>(std::clamp<qint64>(ms, 0, std::numeric_limits<int>::max())));
}

AvahiTimeout* timeoutNew(const AvahiPoll* /*api*/, const struct timeval* when, AvahiTimeoutCallback callback,
                         void* userdata) {
    auto* timeout = new AvahiTimeout{callback, userdata, new QTimer};
    timeout->timer->setSingleShot(true);
    QObject::connect(timeout->timer, &QTimer::timeout, timeout->timer,
                     [timeout] { timeout->callback(timeout, timeout->userdata); });
    timeoutUpdate(timeout, when);
    return timeout;
}

void timeoutFree(AvahiTimeout* timeout) {
    timeout->timer->stop();
    timeout->timer->deleteLater();
    delete timeout;
}

} // namespace

QtAvahiPoll::QtAvahiPoll() {
    poll_.userdata = this;
    poll_.watch_new = watchNew;
    poll_.watch_update = watchUpdate;
    poll_.watch_get_events = watchGetEvents;
    poll_.watch_free = watchFree;
    poll_.timeout_new = timeoutNew;
    poll_.timeout_update = timeoutUpdate;
    poll_.timeout_free = timeoutFree;
}

} // namespace valve::sila
