#include "run_progress.h"

#include "outcome.h"

#include <cstdio>

namespace valve::commands {

namespace {

using Phase = sequencer::StepReport::Phase;

double seconds(std::chrono::nanoseconds time) {
    return std::chrono::duration<double>(time).count();
}
double milliseconds(std::chrono::nanoseconds time) {
    return std::chrono::duration<double, std::milli>(time).count();
}
std::chrono::nanoseconds fromSeconds(double value) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(value));
}

} // namespace

QJsonObject stepJson(const sequencer::StepReport& report, int steps) {
    QJsonObject json{{QStringLiteral("step"), report.row + 1},
                     {QStringLiteral("steps"), steps},
                     {QStringLiteral("due_s"), seconds(report.due)}};
    if (report.phase == Phase::Waiting) {
        json.insert(QStringLiteral("waiting_since_s"), seconds(report.at));
        return json;
    }
    json.insert(QStringLiteral("actual_s"), seconds(report.at));
    json.insert(QStringLiteral("deviation_ms"), milliseconds(report.at - report.due));
    json.insert(QStringLiteral("position"), report.position);
    json.insert(QStringLiteral("reached"), report.reached);
    return json;
}

std::optional<sequencer::StepReport> stepFromJson(const QJsonObject& json) {
    const int step = json.value(QStringLiteral("step")).toInt();
    if (step < 1 || step > sequencer::kEventRows || !json.value(QStringLiteral("due_s")).isDouble()) {
        return std::nullopt;
    }
    sequencer::StepReport report;
    report.row = step - 1;
    report.due = fromSeconds(json.value(QStringLiteral("due_s")).toDouble());
    if (json.contains(QStringLiteral("waiting_since_s"))) {
        report.at = fromSeconds(json.value(QStringLiteral("waiting_since_s")).toDouble());
        return report;
    }
    report.phase = Phase::Moved;
    report.at = fromSeconds(json.value(QStringLiteral("actual_s")).toDouble());
    report.position = static_cast<std::int16_t>(json.value(QStringLiteral("position")).toInt());
    report.reached = json.value(QStringLiteral("reached")).toBool();
    return report;
}

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
        printJson(stdout, stepJson(report, steps_));
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

} // namespace valve::commands
