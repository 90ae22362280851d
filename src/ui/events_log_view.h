#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QTableView>

namespace valve::record {
class EventLog;
}

namespace valve::ui {

// The lines of the events log as the view shows them.
class LogLinesModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit LogLinesModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;

    void append(const QString& line);
    void dropFirst();
    void clear();

private:
    QStringList lines_;
};

// The list that shows the events log: one entry per line, the newest line
// selected and scrolled into view whenever one arrives. A one-column table
// without headers and grid: unlike a list view it does not lay out every
// entry again when one is added, which matters at 32767 lines.
class EventsLogView : public QTableView {
    Q_OBJECT
public:
    explicit EventsLogView(QWidget* parent = nullptr);

    // Shows the lines the log already holds and follows it from now on.
    void follow(const record::EventLog& log);

    [[nodiscard]] int count() const { return model_->rowCount(); }
    [[nodiscard]] QString line(int row) const;
    [[nodiscard]] int currentRow() const { return currentIndex().row(); }

private:
    void appendLine(const QString& text);
    void selectLastLine();

    LogLinesModel* model_;
};

} // namespace valve::ui
