#pragma once

#include "event_table.h"

#include <QString>
#include <array>

namespace valve::sequencer {

// An event table held in memory, for runs without a window (tests, benchmarks).
class StoredEventTable : public EventTableView {
public:
    void setRow(int row, const QString& time, const QString& position) {
        times_.at(row) = time;
        positions_.at(row) = position;
    }

    [[nodiscard]] QString timeText(int row) const override { return times_.at(row); }
    [[nodiscard]] QString positionText(int row) const override { return positions_.at(row); }
    void setRowLook(int row, RowLook look) override { looks_.at(row) = look; }
    void setRunEnabled(bool enabled) override { runEnabled_ = enabled; }
    void setStopEnabled(bool enabled) override { stopEnabled_ = enabled; }
    void setCurrentPosition(const QString& text) override { currentPosition_ = text; }

    [[nodiscard]] RowLook look(int row) const { return looks_.at(row); }
    [[nodiscard]] bool runEnabled() const { return runEnabled_; }
    [[nodiscard]] bool stopEnabled() const { return stopEnabled_; }
    [[nodiscard]] const QString& currentPosition() const { return currentPosition_; }

private:
    std::array<QString, kEventRows> times_;
    std::array<QString, kEventRows> positions_;
    std::array<RowLook, kEventRows> looks_{};
    bool runEnabled_ = true;
    bool stopEnabled_ = true;
    QString currentPosition_;
};

} // namespace valve::sequencer
