#pragma once

#include "sequencer/event_table.h"
#include "sequencer/routine_file.h"
#include "sequencer/sequencer.h"

#include <QDateTime>
#include <QObject>
#include <cstdint>
#include <memory>
#include <qcoro/qcorotask.h>
#include <vector>

namespace valve::protocol {
struct Session;
}

namespace valve::ui {

struct MainWindowControls;

// Wires the "Timed Events" tab: "Run" and "Stop" to the sequencer, the row
// looks to the table's boxes and labels, and selects a box's whole text when
// it gets the focus. With the main window as its parent it lives as long as
// the window, and closing the window ends a run quietly.
class SequencerWiring : public QObject {
    Q_OBJECT
public:
    SequencerWiring(const MainWindowControls& controls, protocol::Session& session, QObject* parent = nullptr,
                    sequencer::RunSupport runSupport = {});
    ~SequencerWiring() override;

    [[nodiscard]] sequencer::Sequencer& sequencer() { return *sequencer_; }
    // True while the table is a run's: one under way, or one ended by a
    // failed move and not reset by "Stop" yet ("Run" stays disabled then).
    [[nodiscard]] bool tableInUse() const;
    // The last run: its number (counting from 1, 0 before the first) and when
    // its "Run" was pressed.
    [[nodiscard]] std::uint32_t runNumber() const { return runNumber_; }
    [[nodiscard]] const QDateTime& runPressed() const { return runPressed_; }
    // The table has just been filled from the routine file at `path`: a run
    // of the table as it stands now names that file in its journal.
    void routineLoaded(const QString& path);

signals:
    // Each step of a run as it goes, and how the run ended.
    void stepReported(const valve::sequencer::StepReport& report);
    void runEnded(valve::sequencer::RunEnd end);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QCoro::Task<> run();

    class TabView;
    std::unique_ptr<TabView> view_;
    std::unique_ptr<sequencer::Sequencer> sequencer_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::uint32_t runNumber_ = 0;
    QDateTime runPressed_;
    const MainWindowControls& controls_;
    QString loadedPath_;
    std::vector<sequencer::TableRow> loadedRows_; // the table as the file filled it
};

} // namespace valve::ui
