#include "step_json.h"

#include <chrono>

namespace valve::commands {

namespace {

using Phase = sequencer::StepReport::Phase;

std::chrono::nanoseconds fromSeconds(double value) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(value));
}

} // namespace

double seconds(std::chrono::nanoseconds time) {
    return std::chrono::duration<double>(time).count();
}

double milliseconds(std::chrono::nanoseconds time) {
    return std::chrono::duration<double, std::milli>(time).count();
}

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

} // namespace valve::commands
