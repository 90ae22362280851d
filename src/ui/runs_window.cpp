#include "runs_window.h"

#include "commands/run_history.h"
#include "record/saved_file.h"
#include "run_chart.h"
#include "save_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonObject>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace valve::ui {

namespace {

const QStringList kColumns{QStringLiteral("Start"), QStringLiteral("Routine"), QStringLiteral("Steps"),
                           QStringLiteral("Ended"), QStringLiteral("Largest deviation")};

QString shownStart(const QString& journalTime) {
    return QDateTime::fromString(journalTime, Qt::ISODateWithMs)
        .toLocalTime()
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The cells of a run's row, from what "valvectl runs" lists.
QStringList cellsOf(const QJsonObject& run) {
    if (run.contains(QStringLiteral("problem"))) {
        return {run.value(QStringLiteral("id")).toString(), QString(), QString(),
                QStringLiteral("cannot be read: ") + run.value(QStringLiteral("problem")).toString(),
                QString()};
    }
    const QString routine = run.value(QStringLiteral("routine")).toString();
    const QJsonValue largest = run.value(QStringLiteral("largest_deviation_ms"));
    return {shownStart(run.value(QStringLiteral("start")).toString()),
            routine.isEmpty() ? QStringLiteral("(table)") : QFileInfo(routine).fileName(),
            QStringLiteral("%1 of %2")
                .arg(run.value(QStringLiteral("steps_done")).toInt())
                .arg(run.value(QStringLiteral("steps")).toInt()),
            run.value(QStringLiteral("state")).toString(),
            largest.isDouble() ? QStringLiteral("%1 ms").arg(QString::number(largest.toDouble(), 'f', 2))
                               : QString()};
}

} // namespace

RunsWindow::RunsWindow(const QString& journalDir, protocol::MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent, Qt::Window), folder_(journalDir), boxes_(boxes), table_(new QTableWidget(this)),
      chart_(new RunChart(this)), export_(new QPushButton(QStringLiteral("Export CSV…"), this)) {
    setObjectName(QStringLiteral("frmRuns"));
    setWindowTitle(QStringLiteral("Runs"));
    setAttribute(Qt::WA_DeleteOnClose);
    table_->setObjectName(QStringLiteral("tblRuns"));
    table_->setColumnCount(static_cast<int>(kColumns.size()));
    table_->setHorizontalHeaderLabels(kColumns);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    chart_->setObjectName(QStringLiteral("chtRun"));
    export_->setObjectName(QStringLiteral("btnExportCsv"));
    export_->setEnabled(false);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(table_);
    split->addWidget(chart_);
    split->setStretchFactor(1, 2);
    auto* bar = new QHBoxLayout;
    bar->addStretch();
    bar->addWidget(export_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split);
    layout->addLayout(bar);
    resize(860, 640);

    connect(table_, &QTableWidget::itemSelectionChanged, this, &RunsWindow::showSelected);
    connect(export_, &QPushButton::clicked, this, &RunsWindow::exportCsv);
    // A new journal, or one removed, changes the folder; a run's new line changes its file.
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &RunsWindow::refreshRows);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] {
        refreshRows();
        showSelected();
    });
    QDir().mkpath(folder_.dir());
    watcher_.addPath(folder_.dir());
    refreshRows();
    if (table_->rowCount() > 0) {
        table_->selectRow(0);
    }
}

QString RunsWindow::selectedId() const {
    const QList<QTableWidgetItem*> selected = table_->selectedItems();
    return selected.isEmpty() ? QString()
                              : table_->item(selected.first()->row(), 0)->data(Qt::UserRole).toString();
}

void RunsWindow::select(const QString& id) {
    for (int row = 0; row < table_->rowCount(); ++row) {
        if (table_->item(row, 0)->data(Qt::UserRole).toString() == id) {
            table_->selectRow(row);
            return;
        }
    }
}

void RunsWindow::refreshRows() {
    const QString selected = selectedId();
    const QJsonArray runs = commands::listRuns(folder_).values.value(QStringLiteral("runs")).toArray();
    const QSignalBlocker quiet(table_);
    table_->clearContents();
    table_->setRowCount(static_cast<int>(runs.size()));
    for (int row = 0; row < runs.size(); ++row) {
        const QJsonObject run = runs[row].toObject();
        const QStringList cells = cellsOf(run);
        for (int column = 0; column < cells.size(); ++column) {
            table_->setItem(row, column, new QTableWidgetItem(cells[column]));
        }
        table_->item(row, 0)->setData(Qt::UserRole, run.value(QStringLiteral("id")).toString());
    }
    table_->resizeColumnsToContents();
    select(selected);
}

void RunsWindow::showSelected() {
    const QString id = selectedId();
    const sequencer::JournalReading reading =
        id.isEmpty() ? sequencer::JournalReading{} : commands::readRun(folder_, id);
    if (id.isEmpty() || reading.problem != sequencer::JournalProblem::None) {
        shown_.reset();
        chart_->clear();
    } else {
        shown_ = reading.journal;
        chart_->draw(reading.journal, sequencer::runState(reading.journal, id));
    }
    export_->setEnabled(shown_.has_value());
    watchSelected();
}

void RunsWindow::watchSelected() {
    const QStringList files = watcher_.files();
    const QString path = selectedId().isEmpty() ? QString() : folder_.pathOf(selectedId());
    for (const QString& file : files) {
        if (file != path) {
            watcher_.removePath(file);
        }
    }
    // A file is dropped from the watch when it is replaced; watched again here.
    if (!path.isEmpty() && !watcher_.files().contains(path)) {
        watcher_.addPath(path);
    }
}

void RunsWindow::exportCsv() {
    if (!shown_) {
        return;
    }
    askAndSave(
        this, QStringLiteral("Export CSV"), selectedId() + QStringLiteral(".csv"),
        QStringLiteral("CSV files (*.csv);;All files (*)"),
        [csv = commands::runStepsCsv(*shown_)](const QString& path) {
            return record::saveWholeFile(path, csv);
        },
        boxes_);
}

} // namespace valve::ui
