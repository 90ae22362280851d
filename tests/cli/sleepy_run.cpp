// A timed run on a simulated unit whose computer sleeps once, for the tests that kill a run hard in a sleep:
//   sleepy_run ASLEEP_AT ASLEEP_FOR SECONDS,POSITION...
// prints "asleep" when it falls asleep; the journal goes where the panel's would ($XDG_STATE_HOME).
#include "command_bench.h"
#include "link/wake_signal.h"
#include "sequencer/run_clock.h"
#include "sequencer/run_journal.h"
#include "sequencer/run_recorder.h"
#include "sequencer/sequencer.h"
#include "sequencer/stored_event_table.h"

#include <cstdio>

namespace {

using namespace valve;
using Duration = sequencer::RunClock::Duration;

// Real time passes as it does; a wait that reaches the sleep lasts until the
// computer wakes, and the time asleep is told as the boot-time clock tells it.
class SleepingClock final : public sequencer::RunClock {
public:
    SleepingClock(Duration at, Duration span) : sleepsAt_(real_.now() + at), span_(span) {}

    [[nodiscard]] Duration now() const override { return real_.now(); }
    [[nodiscard]] Duration asleep() const override { return real_.asleep() + (slept_ ? span_ : Duration{0}); }
    QCoro::Task<> sleepUntil(Duration due, link::WakeSignal& wake) override {
        if (!slept_ && due >= sleepsAt_) {
            co_await until(sleepsAt_, wake);
            std::puts("asleep");
            std::fflush(stdout);
            co_await until(sleepsAt_ + span_, wake);
            slept_ = true;
        }
        co_await real_.sleepUntil(due, wake);
    }

private:
    QCoro::Task<> until(Duration time, link::WakeSignal& wake) {
        while (real_.now() < time) {
            co_await real_.sleepUntil(time, wake);
        }
    }

    sequencer::BootTimeClock real_;
    Duration sleepsAt_, span_;
    bool slept_ = false;
};

Duration seconds(const char* text) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(std::atof(text)));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fputs("usage: sleepy_run ASLEEP_AT ASLEEP_FOR SECONDS,POSITION...\n", stderr);
        return 2;
    }
    testing::CommandBench bench;
    sequencer::StoredEventTable table;
    for (int row = 0; row + 3 < argc; ++row) {
        const QStringList step = QString::fromUtf8(argv[row + 3]).split(u',');
        table.setRow(row, step.value(0), step.value(1));
    }
    SleepingClock clock(seconds(argv[1]), seconds(argv[2]));
    sequencer::JournalFolder journals;
    sequencer::Sequencer runner(*bench.session, table,
                                {.clock = &clock, .journals = &journals, .origin = sequencer::kFromValvectl});
    const auto end = testing::await(runner.btnRun_Click(), std::chrono::minutes{1});
    return end == sequencer::RunEnd::Finished ? 0 : 1;
}
