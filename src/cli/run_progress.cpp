#include "run_progress.h"

#include "commands/step_json.h"
#include "printing.h"

#include <cstdio>

namespace valve::cli {

namespace {

using Phase = sequencer::StepReport::Phase;

using commands::milliseconds;
using commands::seconds;

} // namespace

RunProgress::RunProgress(int steps, bool json, bool countdown)
    : steps_(steps), json_(json), countdown_(countdown) {
    tick_.setInterval(100);
    connect(&tick_, &QTimer::timeout, this, &RunProgress::showCountdown);
}

RunProgress::~RunProgress() {
    clearCountdown();
}

void RunProgress::report(const sequencer::StepReport& report) {
    if (report.phase == Phase::Waiting) {
        waitingRow_ = report.row;
        waitingDue_ = report.due;
        deadline_ = std::chrono::steady_clock::now() + (report.due - report.at);
        if (countdown_ && !json_ && report.due - report.at > std::chrono::milliseconds{300}) {
            showCountdown();
            tick_.start();
        }
        return;
    }
    clearCountdown();
    if (json_) {
        printJson(stdout, commands::stepJson(report, steps_));
        return;
    }
    std::printf("step %d/%d  due %.3f s  actual %.4f s  deviation %+.2f ms  position %d%s\n", report.row + 1,
                steps_, seconds(report.due), seconds(report.at), milliseconds(report.at - report.due),
                report.position, report.reached ? "" : " not reached");
    std::fflush(stdout);
}

void RunProgress::showCountdown() {
    const double left = seconds(deadline_ - std::chrono::steady_clock::now());
    std::printf("\rnext: step %d/%d at %.3f s, in %.1f s\033[K", waitingRow_ + 1, steps_,
                seconds(waitingDue_), std::max(left, 0.0));
    std::fflush(stdout);
    shown_ = true;
}

void RunProgress::clearCountdown() {
    tick_.stop();
    if (shown_) {
        std::printf("\r\033[K");
        std::fflush(stdout);
        shown_ = false;
    }
}

} // namespace valve::cli
