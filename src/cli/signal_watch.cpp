#include "signal_watch.h"

#include <array>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace valve::cli {

namespace {

// The handler may only write to a pipe; the notifier reads it on the loop's thread.
std::array<int, 2> signal_pipe{-1, -1};
volatile std::sig_atomic_t later_end_at_once = 0;
std::atomic<bool> first_taken{false}; // lock-free, so the handler may use it
constexpr std::array kWatched{SIGINT, SIGTERM, SIGHUP};

void setHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kWatched) {
        sigaction(signal, &action, nullptr);
    }
}

} // namespace

SignalWatch::SignalWatch(std::function<void(int)> onSignal, Later later) : on_signal_(std::move(onSignal)) {
    if (pipe2(signal_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // the default handlers stay: a signal ends the program at once
    }
    later_end_at_once = later == Later::EndAtOnce ? 1 : 0;
    first_taken = false;
    notifier_ = std::make_unique<QSocketNotifier>(signal_pipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalWatch::readSignals);
    setHandler(&SignalWatch::handler);
}

SignalWatch::~SignalWatch() {
    if (!notifier_) {
        return;
    }
    setHandler(SIG_DFL);
    notifier_.reset();
    ::close(signal_pipe[0]);
    ::close(signal_pipe[1]);
    signal_pipe = {-1, -1};
}

QString SignalWatch::name(int signal) {
    switch (signal) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

// Only what is safe in a signal handler: a write, sigaction and raise. Two
// signals can be handled at the same time, on two of the program's threads.
void SignalWatch::handler(int signal) {
    if (later_end_at_once != 0 && first_taken.exchange(true)) {
        setHandler(SIG_DFL);
        std::raise(signal); // taken as soon as this handler returns
        return;
    }
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto written = ::write(signal_pipe[1], &byte, 1);
    if (later_end_at_once != 0) {
        setHandler(SIG_DFL);
    }
}

void SignalWatch::readSignals() {
    unsigned char byte = 0;
    while (::read(signal_pipe[0], &byte, 1) == 1) {
        on_signal_(byte);
    }
}

} // namespace valve::cli
