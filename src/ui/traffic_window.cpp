#include "traffic_window.h"

#include "record/traffic_text.h"
#include "save_dialog.h"
#include "traffic_model.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <numeric>

namespace valve::ui {

namespace {
// Column widths in characters of the table's font.
constexpr std::array<int, TrafficModel::ColumnCount> kColumnChars{15, 19, 22, 24, 40, 19};
} // namespace

TrafficWindow::TrafficWindow(record::TrafficRecord& record, protocol::MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent, Qt::Window), record_(record), boxes_(boxes), model_(new TrafficModel(record, this)),
      table_(new QTableView(this)), operation_(new QLineEdit(this)), directions_(new QComboBox(this)),
      fold_(new QCheckBox(QStringLiteral("Fold requests and replies"), this)) {
    setObjectName(QStringLiteral("frmTraffic"));
    setWindowTitle(QStringLiteral("Traffic"));
    setAttribute(Qt::WA_DeleteOnClose);

    QHBoxLayout* bar = makeBar();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(table_);
    setUpTable();

    auto* copyKey = new QAction(table_);
    copyKey->setShortcut(QKeySequence::Copy);
    copyKey->setShortcutContext(Qt::WidgetShortcut);
    table_->addAction(copyKey);
    connect(copyKey, &QAction::triggered, this, &TrafficWindow::copySelection);
    keepScrollPlace();
    table_->scrollToBottom();
}

QHBoxLayout* TrafficWindow::makeBar() {
    operation_->setObjectName(QStringLiteral("txtTrafficOperation"));
    operation_->setPlaceholderText(QStringLiteral("number or name"));
    operation_->setClearButtonEnabled(true);
    directions_->setObjectName(QStringLiteral("cmbTrafficDirection"));
    directions_->addItems({QStringLiteral("Both"), QStringLiteral("Sent"), QStringLiteral("Received")});
    fold_->setObjectName(QStringLiteral("chkTrafficFold"));
    auto* copy = new QPushButton(QStringLiteral("Copy"), this);
    copy->setObjectName(QStringLiteral("cmdTrafficCopy"));
    auto* save = new QPushButton(QStringLiteral("Save…"), this);
    save->setObjectName(QStringLiteral("cmdTrafficSave"));

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Operation:"), this));
    bar->addWidget(operation_);
    bar->addWidget(new QLabel(QStringLiteral("Direction:"), this));
    bar->addWidget(directions_);
    bar->addWidget(fold_);
    bar->addStretch();
    bar->addWidget(copy);
    bar->addWidget(save);

    // Connected once filled: filling the direction box already changes its index.
    connect(copy, &QPushButton::clicked, this, &TrafficWindow::copySelection);
    connect(save, &QPushButton::clicked, this, &TrafficWindow::save);
    connect(operation_, &QLineEdit::textChanged, this, &TrafficWindow::applyFilter);
    connect(directions_, &QComboBox::currentIndexChanged, this, &TrafficWindow::applyFilter);
    connect(fold_, &QCheckBox::toggled, model_, &TrafficModel::setFolded);
    return bar;
}

void TrafficWindow::setUpTable() {
    // Fixed row heights and column widths: the view never measures 100,000 rows.
    table_->setObjectName(QStringLiteral("tblTraffic"));
    table_->setModel(model_);
    table_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 2);
    const int charWidth = table_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (int column = 0; column < TrafficModel::ColumnCount; ++column) {
        table_->setColumnWidth(column, kColumnChars.at(static_cast<std::size_t>(column)) * charWidth);
    }
    table_->horizontalHeader()->setStretchLastSection(true);
    resize(std::accumulate(kColumnChars.begin(), kColumnChars.end(), 4) * charWidth, 420);
}

void TrafficWindow::keepScrollPlace() {
    QScrollBar* bar = table_->verticalScrollBar();
    connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this, bar] { atBottom_ = bar->value() == bar->maximum(); });
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (atBottom_) {
            table_->scrollToBottom();
        }
    });
    // Rows dropped from the top would slide what the operator reads upwards.
    connect(model_, &QAbstractItemModel::rowsRemoved, this, [bar](const QModelIndex&, int first, int last) {
        if (first == 0 && bar->value() < bar->maximum()) {
            bar->setValue(std::max(0, bar->value() - (last - first + 1)));
        }
    });
    connect(model_, &QAbstractItemModel::modelReset, table_, &QTableView::scrollToBottom);
}

void TrafficWindow::applyFilter() {
    model_->setFilter(operation_->text(), static_cast<TrafficModel::Directions>(directions_->currentIndex()));
}

void TrafficWindow::copySelection() {
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (const QModelIndex& row : rows) {
        lines << model_->rowText(row.row());
    }
    if (!lines.isEmpty()) {
        QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    }
}

void TrafficWindow::save() {
    askAndSave(
        this, QStringLiteral("Save traffic"), QStringLiteral("traffic.csv"),
        QStringLiteral("CSV files (*.csv);;All files (*)"),
        [&record = record_](const QString& path) { return record::saveTrafficCsv(record, path); }, boxes_);
}

} // namespace valve::ui
