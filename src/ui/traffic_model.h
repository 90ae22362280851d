#pragma once

#include <QAbstractTableModel>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <vector>

namespace valve::link {}

namespace valve::record {}

namespace valve::record {
class TrafficEntry;
class TrafficRecord;
} // namespace valve::record

namespace valve::ui {

// The traffic record as rows of a table: one entry a row, or, folded, each
// request with its reply in one row ("S␍ → 0C␍ in 2.7 ms"). New traffic is
// taken in batches a few times a second, as rows inserted at the end; entries
// the record drops are removed from the top. Nothing is reset but when the
// folding or the filter changes.
class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Direction, Text, Hex, Operation, AfterRequest, ColumnCount };
    enum class Directions { Both, Sent, Received };
    static constexpr int kBatchIntervalMs = 40;

    explicit TrafficModel(record::TrafficRecord& record, QObject* parent = nullptr);
    ~TrafficModel() override;

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setFolded(bool folded);
    // Shows only the operations whose number is `operation` or whose label
    // contains it (any, when empty), and the entries of those directions.
    void setFilter(const QString& operation, Directions directions);
    // The row's cells joined by tabs, as "Copy" puts it on the clipboard.
    [[nodiscard]] QString rowText(int row) const;

    // Takes in what the record has gained and lost since the last batch.
    void update();

private:
    // Entries first..last of the record; more than one only when folded.
    struct Row {
        std::uint64_t first;
        std::uint64_t last;
        bool exchange = false; // a request, with the reply so far
        bool replied = false;
        bool ended = false; // the reply timed out or failed
    };

    [[nodiscard]] bool passes(const record::TrafficEntry& entry) const;
    // Adds the entry to the row when it continues the row's exchange.
    bool extends(Row& row, std::uint64_t seq) const;
    // Looks at the entries not yet seen: new rows go into `added`; true when
    // the last row already shown took some of them.
    bool scan(std::vector<Row>& added);
    void rebuild();
    [[nodiscard]] QString cell(const Row& row, int column) const;
    [[nodiscard]] QString exchangeCell(const Row& row, int column) const;

    record::TrafficRecord& record_;
    std::deque<Row> rows_;
    std::uint64_t next_ = 0; // the first entry not yet looked at
    bool folded_ = false;
    QString operationFilter_;
    Directions directions_ = Directions::Both;
    QTimer batch_;
};

} // namespace valve::ui
