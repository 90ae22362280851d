#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLineEdit;
class QTableView;

namespace valve::protocol {
class MessageBoxes;
}

namespace valve::record {
class TrafficRecord;
}

namespace valve::ui {

class TrafficModel;

// "Traffic": what went over the wire, as a table that follows new traffic
// while it is scrolled to the bottom and stays put when scrolled up. A filter
// by operation and direction, folding of each request with its reply, "Copy"
// of the selected rows and "Save…" of the whole record as CSV. Modeless; it
// deletes itself when closed.
class TrafficWindow : public QWidget {
    Q_OBJECT
public:
    TrafficWindow(record::TrafficRecord& record, protocol::MessageBoxes& boxes, QWidget* parent = nullptr);

    [[nodiscard]] TrafficModel& model() { return *model_; }
    [[nodiscard]] QTableView& table() { return *table_; }

    // The selected rows, one line each with tabs between the cells.
    void copySelection();

private:
    // Asks where, then saves the whole record there as CSV.
    void save();
    void applyFilter();
    // The bar above the table: the filter, folding, "Copy" and "Save…".
    QHBoxLayout* makeBar();
    // Fixed-width font, whole-row selection, and the window sized to the columns.
    void setUpTable();
    void keepScrollPlace();

    record::TrafficRecord& record_;
    protocol::MessageBoxes& boxes_;
    TrafficModel* model_;
    QTableView* table_;
    QLineEdit* operation_;
    QComboBox* directions_;
    QCheckBox* fold_;
    bool atBottom_ = true;
};

} // namespace valve::ui
