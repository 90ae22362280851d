#pragma once

#include "command_bench.h"
#include "link/wake_signal.h"
#include "sequencer/run_clock.h"
#include "sequencer/sequencer.h"
#include "sequencer/stored_event_table.h"

#include <QStringList>
#include <algorithm>
#include <chrono>
#include <ranges>
#include <vector>

namespace valve::testing {

// The box for a table that cannot be run, at the start or when a row edited meanwhile is reached.
inline const QString kUnusable =
    QStringLiteral("Could not run the routine. Please double check that all fields "
                   "have a valid time in seconds or are blank.");
inline const sim::UnitTiming kMovesOf50msAStep{sim::SimDuration{0}, sim::SimDuration{0},
                                               std::chrono::milliseconds{50}};

// A wait ends at once, the clock moved on to its due time: a schedule is exact however busy the machine.
// Real time still passes (a move takes its time). While `held`, time waits for sleep() or release().
struct TestClock final : sequencer::RunClock {
    [[nodiscard]] Duration now() const override { return real.now() + skipped; }
    [[nodiscard]] Duration asleep() const override { return real.asleep() + slept; }
    QCoro::Task<> sleepUntil(Duration due, link::WakeSignal& wake) override {
        if (held) {
            waiting = &wake;
            co_await wake.wait();
        } else {
            skipped += std::max(Duration{0}, due - now());
        }
    }
    void sleep(Duration span) {
        slept += span;
        skipped += span;
        waiting->notify(); // as the real clock's timer goes off on resume
    }
    void release() {
        held = false;
        waiting->notify();
    }

    sequencer::BootTimeClock real;
    Duration skipped{0};
    Duration slept{0};
    link::WakeSignal* waiting = nullptr;
    bool held = false;
};

// A sequencer over a stored table and the test's clock, driving a simulated unit through the link.
struct SequencerRig : CommandBench {
    explicit SequencerRig(sim::UnitTiming unitTiming = sim::UnitTiming::instant(),
                          sequencer::SleepInhibitor* inhibitor = nullptr,
                          sequencer::PriorityRaiser* priority = nullptr,
                          sequencer::JournalFolder* journals = nullptr)
        : CommandBench(unitTiming),
          sequencer(*session, table,
                    {.inhibitor = inhibitor, .priority = priority, .clock = &clock, .journals = journals}) {}

    // Starts "Run" without waiting for its end.
    void startRun(const std::vector<std::pair<QString, QString>>& rows) {
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            table.setRow(row, rows[row].first, rows[row].second);
        }
        [](SequencerRig& rig) -> QCoro::Task<> {
            rig.end.reset();
            rig.end = co_await rig.sequencer.btnRun_Click();
        }(*this);
    }
    std::optional<sequencer::RunEnd> run(const std::vector<std::pair<QString, QString>>& rows) {
        startRun(rows);
        return runUntil([this] { return end.has_value(); }) ? end : std::nullopt;
    }
    // Starts "Run" with the clock held, and waits for row 1 to wait for it.
    bool startHeld(const std::vector<std::pair<QString, QString>>& rows) {
        clock.held = true;
        startRun(rows);
        return reaches(1);
    }
    bool reaches(int row) {
        return runUntil([&] { return table.look(row) == sequencer::RowLook::Current; });
    }

    // The move commands sent so far, as lines ("P03\r").
    [[nodiscard]] QList<QByteArray> moves() {
        QList<QByteArray> lines = sent();
        lines.removeIf([](const QByteArray& line) { return !line.startsWith('P'); });
        return lines;
    }
    [[nodiscard]] bool allIdle() const {
        return std::ranges::all_of(std::views::iota(0, sequencer::kEventRows),
                                   [this](int row) { return table.look(row) == sequencer::RowLook::Idle; });
    }

    // A table that keeps when each step that moved was due, from the start of the run on its clock.
    struct ReportingTable : sequencer::StoredEventTable {
        void reportStep(const sequencer::StepReport& report) override {
            if (report.phase == sequencer::StepReport::Phase::Moved) {
                dues.push_back(report.due);
            }
        }
        std::vector<std::chrono::nanoseconds> dues;
    } table;
    TestClock clock;
    sequencer::Sequencer sequencer;
    std::optional<sequencer::RunEnd> end; // how the last run ended, once it has; run() gives it
};

} // namespace valve::testing
