#pragma once

#include "sequencer/journal_format.h"
#include "sequencer/run_journal.h"

#include <QFileSystemWatcher>
#include <QWidget>

class QPushButton;
class QTableWidget;

namespace valve::protocol {
class MessageBoxes;
}

namespace valve::ui {

class RunChart;

// "Runs": one row for each run's journal, newest first (its start, routine,
// steps done out of planned, how it ended and its largest deviation; a file
// that cannot be read says so), and the chart of the selected run, with
// "Export CSV…" of its steps. Journals are followed as they are written: the
// folder and the selected file are watched, so a run under way draws on.
// Modeless; it deletes itself when closed.
class RunsWindow : public QWidget {
    Q_OBJECT
public:
    RunsWindow(const QString& journalDir, protocol::MessageBoxes& boxes, QWidget* parent = nullptr);

    [[nodiscard]] QTableWidget& table() { return *table_; }
    [[nodiscard]] RunChart& chart() { return *chart_; }
    // The id of the selected run; empty when none.
    [[nodiscard]] QString selectedId() const;
    void select(const QString& id);

private:
    // Lists the journals again, keeping the selected run selected.
    void refreshRows();
    // Reads the selected run again and draws it.
    void showSelected();
    void watchSelected();
    void exportCsv();

    sequencer::JournalFolder folder_;
    protocol::MessageBoxes& boxes_;
    QTableWidget* table_;
    RunChart* chart_;
    QPushButton* export_;
    QFileSystemWatcher watcher_;
    std::optional<sequencer::Journal> shown_;
};

} // namespace valve::ui
