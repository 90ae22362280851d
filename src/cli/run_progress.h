#pragma once

#include "sequencer/event_table.h"

#include <QObject>
#include <QTimer>
#include <chrono>

namespace valve::cli {

// Prints a run's progress on standard output: a line per step (or a JSON
// object per line) when its move has ended and, on a terminal, a countdown to
// the next step that is rewritten in place while the run waits.
class RunProgress : public QObject {
public:
    RunProgress(int steps, bool json, bool countdown);
    ~RunProgress() override;
    RunProgress(const RunProgress&) = delete;
    RunProgress& operator=(const RunProgress&) = delete;

    void report(const sequencer::StepReport& report);

private:
    void showCountdown();
    void clearCountdown();

    int steps_;
    bool json_;
    bool countdown_;
    QTimer tick_;
    int waitingRow_ = 0;
    std::chrono::nanoseconds waitingDue_{0};
    std::chrono::steady_clock::time_point deadline_;
    bool shown_ = false;
};

} // namespace valve::cli
