#pragma once

#include "command_bench.h"
#include "sequencer/sequencer.h"
#include "sequencer/stored_event_table.h"

#include <QStringList>
#include <algorithm>
#include <chrono>
#include <ranges>
#include <vector>

namespace valve::testing {

// A sequencer over a stored table, driving a simulated unit through the link.
struct SequencerRig : CommandBench {
    explicit SequencerRig(sim::UnitTiming unitTiming = sim::UnitTiming::instant(),
                          sequencer::RunSupport support = {})
        : CommandBench(unitTiming), sequencer(*session, table, support) {}

    // Starts "Run" without waiting for its end.
    void startRun() {
        [](SequencerRig& rig) -> QCoro::Task<> {
            rig.runEnded = false;
            co_await rig.sequencer.btnRun_Click();
            rig.runEnded = true;
        }(*this);
    }
    bool run(std::chrono::milliseconds limit = std::chrono::milliseconds{5000}) {
        startRun();
        return runUntil([this] { return runEnded; }, limit);
    }

    void setRows(const std::vector<std::pair<QString, QString>>& rows) {
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            table.setRow(row, rows[row].first, rows[row].second);
        }
    }

    // The move commands sent so far, as lines ("P03\r").
    [[nodiscard]] QList<QByteArray> moves() {
        QList<QByteArray> lines = sent();
        lines.removeIf([](const QByteArray& line) { return !line.startsWith('P'); });
        return lines;
    }
    // When each step that moved was due, from the start of the run on its clock.
    [[nodiscard]] std::vector<std::chrono::nanoseconds> dues() const {
        std::vector<std::chrono::nanoseconds> dues;
        for (const sequencer::StepReport& report : table.reports) {
            dues.push_back(report.due);
        }
        return dues;
    }
    [[nodiscard]] bool allIdle() const {
        return std::ranges::all_of(std::views::iota(0, sequencer::kEventRows),
                                   [this](int row) { return table.look(row) == sequencer::RowLook::Idle; });
    }

    // A table that keeps the reports of the steps that moved.
    struct ReportingTable : sequencer::StoredEventTable {
        void reportStep(const sequencer::StepReport& report) override {
            if (report.phase == sequencer::StepReport::Phase::Moved) {
                reports.push_back(report);
            }
        }
        std::vector<sequencer::StepReport> reports;
    } table;
    sequencer::Sequencer sequencer;
    bool runEnded = true;
};

} // namespace valve::testing
