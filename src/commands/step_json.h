#pragma once

#include "sequencer/event_table.h"

#include <QJsonObject>
#include <chrono>
#include <optional>

namespace valve::commands {

// A run's times as its steps give them, in seconds and in milliseconds.
double seconds(std::chrono::nanoseconds time);
double milliseconds(std::chrono::nanoseconds time);

// One step's progress as valvectl shows it: due and actual time, the
// deviation, the position. The same object travels over the panel's socket.
QJsonObject stepJson(const sequencer::StepReport& report, int steps);
std::optional<sequencer::StepReport> stepFromJson(const QJsonObject& json);

} // namespace valve::commands
