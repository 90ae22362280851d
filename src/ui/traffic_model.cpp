#include "traffic_model.h"

#include "record/traffic_record.h"
#include "record/traffic_text.h"

#include <array>
#include <vector>

namespace valve::ui {

using record::TrafficEntry;
using record::TrafficKind;

namespace {

bool isRequest(record::TrafficKind kind) {
    return kind == record::TrafficKind::Sent || kind == record::TrafficKind::WriteFailed;
}

bool isReplyEnd(record::TrafficKind kind) {
    return kind == record::TrafficKind::TimedOut || kind == record::TrafficKind::ReadFailed;
}

// A request and its reply gathered from the entries of a folded row.
struct ExchangeParts {
    QByteArray request;
    QByteArray reply;
    bool notSent = false;
    const record::TrafficEntry* end = nullptr; // the time-out or failure, if any
    std::int32_t sinceRequestUs = -1;          // of the last reply entry
};

QString oneDecimalMs(std::int32_t us) {
    return QString::number(static_cast<double>(us) / 1e3, 'f', 1);
}

} // namespace

TrafficModel::TrafficModel(record::TrafficRecord& record, QObject* parent)
    : QAbstractTableModel(parent), record_(record) {
    batch_.setSingleShot(true);
    batch_.setInterval(kBatchIntervalMs);
    connect(&batch_, &QTimer::timeout, this, &TrafficModel::update);
    record_.setWatcher([this] {
        if (!batch_.isActive()) {
            batch_.start();
        }
    });
    rebuild();
}

TrafficModel::~TrafficModel() {
    record_.setWatcher({});
}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || role != Qt::DisplayRole) {
        return {};
    }
    return cell(rows_[static_cast<std::size_t>(index.row())], index.column());
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array<QString, ColumnCount> kTitles{
        QStringLiteral("Time (s)"), QStringLiteral("Direction"), QStringLiteral("Text"),
        QStringLiteral("Hex"),      QStringLiteral("Operation"), QStringLiteral("After request (ms)"),
    };
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount) {
        return {};
    }
    return kTitles.at(static_cast<std::size_t>(section));
}

void TrafficModel::setFolded(bool folded) {
    if (folded != folded_) {
        folded_ = folded;
        rebuild();
    }
}

void TrafficModel::setFilter(const QString& operation, Directions directions) {
    operationFilter_ = operation.trimmed();
    if (operationFilter_.startsWith(QLatin1Char('#'))) {
        operationFilter_.remove(0, 1); // "#12", as the table shows it
    }
    directions_ = directions;
    rebuild();
}

QString TrafficModel::rowText(int row) const {
    QStringList cells;
    for (int column = 0; column < ColumnCount; ++column) {
        cells << cell(rows_.at(static_cast<std::size_t>(row)), column);
    }
    return cells.join(QLatin1Char('\t'));
}

bool TrafficModel::passes(const record::TrafficEntry& entry) const {
    const bool sent = isRequest(entry.kind);
    if ((directions_ == Directions::Sent && !sent) ||
        (directions_ == Directions::Received && (sent || entry.kind == record::TrafficKind::Purged))) {
        return false;
    }
    if (operationFilter_.isEmpty() || operationFilter_ == QString::number(entry.operation)) {
        return true;
    }
    return record_.operationLabel(entry.operation).contains(operationFilter_, Qt::CaseInsensitive);
}

bool TrafficModel::extends(Row& row, std::uint64_t seq) const {
    const record::TrafficEntry& entry = record_.at(seq);
    if (!row.exchange || row.ended || entry.operation != record_.at(row.first).operation) {
        return false;
    }
    if (isRequest(entry.kind)) {
        // A request longer than one entry.
        if (row.replied) {
            return false;
        }
    } else if (entry.kind == record::TrafficKind::Received) {
        row.replied = true;
    } else if (isReplyEnd(entry.kind)) {
        row.ended = true;
    } else {
        return false;
    }
    row.last = seq;
    return true;
}

bool TrafficModel::scan(std::vector<Row>& added) {
    bool lastChanged = false;
    const std::uint64_t end = record_.endSeq();
    next_ = std::max(next_, record_.firstSeq());
    for (; next_ < end; ++next_) {
        const record::TrafficEntry& entry = record_.at(next_);
        if (!passes(entry)) {
            continue;
        }
        if (!added.empty() ? extends(added.back(), next_)
                           : (!rows_.empty() && extends(rows_.back(), next_))) {
            lastChanged = lastChanged || added.empty();
            continue;
        }
        added.push_back({next_, next_, folded_ && isRequest(entry.kind)});
    }
    return lastChanged;
}

void TrafficModel::update() {
    // Rows whose first entry the record has dropped go from the top.
    std::size_t lost = 0;
    while (lost < rows_.size() && rows_[lost].first < record_.firstSeq()) {
        ++lost;
    }
    if (lost > 0) {
        beginRemoveRows({}, 0, static_cast<int>(lost) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(lost));
        endRemoveRows();
    }
    std::vector<Row> added;
    if (scan(added)) {
        const int last = rowCount() - 1;
        emit dataChanged(index(last, 0), index(last, ColumnCount - 1));
    }
    if (!added.empty()) {
        beginInsertRows({}, rowCount(), rowCount() + static_cast<int>(added.size()) - 1);
        rows_.insert(rows_.end(), added.begin(), added.end());
        endInsertRows();
    }
}

void TrafficModel::rebuild() {
    beginResetModel();
    rows_.clear();
    next_ = record_.firstSeq();
    std::vector<Row> added;
    scan(added);
    rows_.assign(added.begin(), added.end());
    endResetModel();
}

QString TrafficModel::cell(const Row& row, int column) const {
    if (row.first < record_.firstSeq()) {
        return {}; // dropped by the record since the last batch; the row goes with the next
    }
    if (row.exchange) {
        return exchangeCell(row, column);
    }
    const record::TrafficEntry& entry = record_.at(row.first);
    switch (column) {
    case Time:
        return record::secondsText(entry.atUs);
    case Direction:
        return record::kindText(entry);
    case Text:
        return record::visibleText(entry.data());
    case Hex:
        return record::hexText(entry.data());
    case Operation:
        return QStringLiteral("#%1 %2").arg(entry.operation).arg(record_.operationLabel(entry.operation));
    case AfterRequest:
        return entry.sinceRequestUs < 0 ? QString() : record::millisecondsText(entry.sinceRequestUs);
    default:
        return {};
    }
}

QString TrafficModel::exchangeCell(const Row& row, int column) const {
    if (column == Time || column == Operation) {
        return cell({row.first, row.first}, column);
    }
    ExchangeParts parts;
    for (auto seq = row.first; seq <= row.last; ++seq) {
        const record::TrafficEntry& entry = record_.at(seq);
        if (!passes(entry)) {
            continue;
        }
        if (isRequest(entry.kind)) {
            parts.request += entry.data();
            parts.notSent = parts.notSent || entry.kind == record::TrafficKind::WriteFailed;
            continue;
        }
        parts.reply += entry.data();
        parts.sinceRequestUs = entry.sinceRequestUs;
        if (isReplyEnd(entry.kind)) {
            parts.end = &entry;
        }
    }
    switch (column) {
    case Direction:
        return QStringLiteral("⇄ request and reply");
    case Hex:
        return record::hexText(parts.request) + QStringLiteral(" → ") + record::hexText(parts.reply);
    case AfterRequest:
        return parts.sinceRequestUs < 0 ? QString() : record::millisecondsText(parts.sinceRequestUs);
    default:
        break;
    }
    QString text = record::visibleText(parts.request) +
                   (parts.notSent ? QStringLiteral(" (not sent)") : QString()) + QStringLiteral(" → ");
    const QString reply = record::visibleText(parts.reply);
    if (parts.end == nullptr) {
        return reply.isEmpty()
                   ? text + QStringLiteral("…")
                   : text + reply + QStringLiteral(" in %1 ms").arg(oneDecimalMs(parts.sinceRequestUs));
    }
    if (!reply.isEmpty()) {
        text += reply + QLatin1Char(' ');
    }
    if (parts.end->kind == record::TrafficKind::TimedOut) {
        return text + QStringLiteral("… timed out after %1 ms").arg(oneDecimalMs(parts.sinceRequestUs));
    }
    return text + QStringLiteral("… read failed (code %1)").arg(parts.end->code);
}

} // namespace valve::ui
