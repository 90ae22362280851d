#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <functional>
#include <memory>

namespace valve::cli {

// Turns SIGINT, SIGTERM and SIGHUP into calls on the event loop's thread,
// where the program can end what it does cleanly. One at a time; the default
// handlers come back when it goes.
class SignalWatch : public QObject {
public:
    // What becomes of the signals after the first: passed on like it, or left
    // to the default handlers, which the first one puts back from within the
    // signal handler, so that a second signal ends the program at once even
    // while its thread is stuck in a call.
    enum class Later { PassedOn, EndAtOnce };

    explicit SignalWatch(std::function<void(int)> onSignal, Later later = Later::PassedOn);
    ~SignalWatch() override;
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // "SIGTERM" and so on, for the three it watches.
    static QString name(int signal);

private:
    static void handler(int signal);
    void readSignals();

    std::function<void(int)> on_signal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace valve::cli
