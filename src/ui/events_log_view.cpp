#include "events_log_view.h"

#include "record/event_log.h"

#include <QHeaderView>

namespace valve::ui {

LogLinesModel::LogLinesModel(QObject* parent) : QAbstractListModel(parent) {
    lines_.reserve(record::EventLog::kRoom); // as the log's own list, for the same reason
}

int LogLinesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LogLinesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= lines_.size()) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == Qt::AccessibleTextRole) {
        return lines_.at(index.row());
    }
    return {};
}

void LogLinesModel::append(const QString& line) {
    const int row = static_cast<int>(lines_.size());
    beginInsertRows({}, row, row);
    lines_.append(line);
    endInsertRows();
}

void LogLinesModel::dropFirst() {
    if (lines_.isEmpty()) {
        return;
    }
    beginRemoveRows({}, 0, 0);
    lines_.removeFirst();
    endRemoveRows();
}

void LogLinesModel::clear() {
    beginResetModel();
    lines_.clear();
    endResetModel();
}

EventsLogView::EventsLogView(QWidget* parent) : QTableView(parent), model_(new LogLinesModel(this)) {
    setObjectName(QStringLiteral("LoggerList"));
    setAccessibleName(tr("Events log"));
    QFont bold = font();
    bold.setPointSizeF(8.25);
    bold.setBold(true);
    setFont(bold);

    setModel(model_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setTabKeyNavigation(false);
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 1);
}

QString EventsLogView::line(int row) const {
    return model_->data(model_->index(row), Qt::DisplayRole).toString();
}

void EventsLogView::follow(const record::EventLog& log) {
    model_->clear();
    for (const QString& text : log.lines()) {
        model_->append(text);
    }
    selectLastLine();
    connect(&log, &record::EventLog::lineAppended, this, &EventsLogView::appendLine);
    connect(&log, &record::EventLog::firstLineDropped, model_, &LogLinesModel::dropFirst);
    connect(&log, &record::EventLog::cleared, model_, &LogLinesModel::clear);
}

void EventsLogView::appendLine(const QString& text) {
    model_->append(text);
    selectLastLine();
}

void EventsLogView::selectLastLine() {
    if (count() == 0) {
        return;
    }
    // The new line is selected even when the operator had picked another one.
    const QModelIndex last = model_->index(count() - 1);
    selectionModel()->setCurrentIndex(last, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(last);
}

} // namespace valve::ui
