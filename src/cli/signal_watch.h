#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace valve::cli {

// Turns SIGINT, SIGTERM and SIGHUP into calls on the event loop's thread,
// where the program can end what it does cleanly. One at a time; the default
// handlers come back when it goes.
class SignalWatch : public QObject {
public:
    explicit SignalWatch(std::function<void(int)> onSignal);
    ~SignalWatch() override;
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    static void handler(int signal);
    void readSignals();

    std::function<void(int)> on_signal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace valve::cli
