// Routine files, as people send them to each other: whatever the bytes, the
// reader refuses the file with a reason or returns steps that the run can
// take, and those steps written out read back as the same steps.

#include "fuzz_check.h"
#include "sequencer/event_table.h"
#include "sequencer/routine_file.h"

#include <cstddef>
#include <cstdint>

namespace sequencer = valve::sequencer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const sequencer::RoutineRead read = sequencer::parseRoutine(content, QStringLiteral("routine.txt"));
    if (!read.ok()) {
        FUZZ_CHECK(read.steps.empty() && read.error.startsWith(QStringLiteral("routine.txt")));
        return 0;
    }
    FUZZ_CHECK(read.steps.size() <= static_cast<std::size_t>(sequencer::kEventRows));
    double previous = 0.0;
    for (const sequencer::RoutineStep& step : read.steps) {
        FUZZ_CHECK(step.seconds >= previous && step.seconds <= sequencer::kMaxEventTime);
        FUZZ_CHECK(step.target >= 0 && step.target <= 255);
        previous = step.seconds;
    }
    const sequencer::RoutineRead again =
        sequencer::parseRoutine(sequencer::formatRoutine(read.steps), QStringLiteral("again.txt"));
    FUZZ_CHECK(again.ok() && again.steps.size() == read.steps.size());
    for (std::size_t i = 0; i < read.steps.size(); ++i) {
        FUZZ_CHECK(again.steps[i].seconds == read.steps[i].seconds);
        FUZZ_CHECK(again.steps[i].target == read.steps[i].target);
    }
    return 0;
}
