#include "custom_config_window.h"

#include "control_factory.h"
#include "protocol/message_boxes.h"
#include "protocol/session.h"
#include "twips.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

namespace valve::ui {

using config::GridCell;
using config::MemoryEditor;

namespace {

constexpr int kColumnWidthTwips = 500;
constexpr std::array<int, config::ErrorStack::kEntries> kErrStackLeftTwips{1800, 2880, 3960, 5040, 6120};

// A cell not yet written to the unit stands out in amber, in bold.
const QColor kChangedBackground{255, 214, 120};

// Fire-and-forget: nothing of the window is touched once the box is answered,
// so it may close meanwhile.
QCoro::Task<> showDataError(protocol::MessageBoxes& boxes) {
    co_await boxes.message_box(MemoryEditor::kDataErrorText, protocol::BoxButtons::Ok,
                               MemoryEditor::kDataErrorCaption);
}

bool isDataCell(int row, int column) {
    return row == MemoryEditor::kDataRow && MemoryEditor::isDataColumn(column);
}

} // namespace

CustomConfigWindow::CustomConfigWindow(protocol::Session& session, QWidget* parent)
    : QWidget(parent), session_(session) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Custom Configuration"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(px(kClientWidthTwips), px(kClientHeightTwips));
    buildControls();

    connect(&memory_, &MemoryEditor::cellChanged, this, &CustomConfigWindow::showCell);
    connect(&memory_, &MemoryEditor::currentChanged, this, &CustomConfigWindow::showCurrent);
    connect(&memory_, &MemoryEditor::editorOpened, this, &CustomConfigWindow::openEditorOver);
    connect(&memory_, &MemoryEditor::editorClosed, this, &CustomConfigWindow::closeEditor);
    connect(grid_, &QTableWidget::cellClicked, this, [this](int row, int column) {
        if (isDataCell(row, column)) {
            memory_.openEditor(column);
        }
    });
    connect(grid_, &QTableWidget::currentCellChanged, this, [this](int row, int column) {
        if (isDataCell(row, column)) {
            memory_.setCurrent({row, column});
        }
    });
    connect(text1_, &CellEditor::escapePressed, &memory_, &MemoryEditor::cancelEdit);
    connect(text1_, &CellEditor::enterPressed, this, &CustomConfigWindow::Text1_Enter);
    connect(data_read_, &QPushButton::clicked, this, &CustomConfigWindow::data_read_Click);
    connect(data_write_, &QPushButton::clicked, this, &CustomConfigWindow::data_write_Click);
    connect(read_err_stack_, &QPushButton::clicked, this, &CustomConfigWindow::read_err_stack_Click);
    connect(clear_err_stack_, &QPushButton::clicked, this, &CustomConfigWindow::clear_err_stack_Click);

    showCurrent(memory_.current());
}

CustomConfigWindow::~CustomConfigWindow() {
    memory_.endOperations();
    error_stack_->endOperations();
}

void CustomConfigWindow::buildControls() {
    data_read_ =
        makeButton(this, QStringLiteral("data_read"), QStringLiteral("Read"), twipRect(120, 240, 1095, 495));
    stat_ =
        makeTextBox(this, QStringLiteral("stat"), QStringLiteral("Status"), twipRect(2760, 360, 3255, 315));
    data_write_ = makeButton(this, QStringLiteral("data_write"), QStringLiteral("Write"),
                             twipRect(7440, 240, 1095, 495));
    buildGrid();

    read_err_stack_ = makeButton(this, QStringLiteral("read_err_stack"), QStringLiteral("Read Error Stack"),
                                 twipRect(240, 1800, 1215, 495));
    std::array<protocol::TextField*, config::ErrorStack::kEntries> fields{};
    for (std::size_t i = 0; i < err_stack_.size(); ++i) {
        err_stack_[i] = makeTextBox(this, QStringLiteral("err_stack_%1").arg(i),
                                    QStringLiteral("Error stack entry %1").arg(i),
                                    twipRect(kErrStackLeftTwips[i], 1920, 855, 375));
        err_stack_fields_[i] = std::make_unique<LineEditField>(err_stack_[i]);
        fields[i] = err_stack_fields_[i].get();
    }
    clear_err_stack_ = makeButton(this, QStringLiteral("clear_err_stack"),
                                  QStringLiteral("Clear Error Stack"), twipRect(7320, 1800, 1215, 495));

    stat_field_ = std::make_unique<LineEditField>(stat_);
    error_stack_ = std::make_unique<config::ErrorStack>(fields);
}

void CustomConfigWindow::buildGrid() {
    grid_ = new QTableWidget(MemoryEditor::kDataRow + 1, MemoryEditor::kColumns, this);
    grid_->setObjectName(QStringLiteral("MSFlexGrid1"));
    grid_->setGeometry(twipRect(120, 960, 8500, 580));
    grid_->horizontalHeader()->hide();
    grid_->verticalHeader()->hide();
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setTabKeyNavigation(false);
    grid_->setWordWrap(false);
    // The headings are as wide as their narrow columns: a smaller face, clipped
    // rather than elided should a wide font still not fit.
    QFont font = grid_->font();
    font.setPointSizeF(std::min<qreal>(font.pointSizeF(), 8.0));
    grid_->setFont(font);
    grid_->setTextElideMode(Qt::ElideNone);
    grid_->horizontalHeader()->setMinimumSectionSize(0);
    for (int column = 0; column < MemoryEditor::kColumns; ++column) {
        grid_->setColumnWidth(column, px(kColumnWidthTwips));
    }
    fitRows();

    // Headings look like the fixed cells of a grid and cannot be picked.
    for (int row = 0; row <= MemoryEditor::kDataRow; ++row) {
        for (int column = 0; column < MemoryEditor::kColumns; ++column) {
            auto* item = new QTableWidgetItem(MemoryEditor::headingText({row, column}));
            item->setTextAlignment(Qt::AlignCenter);
            if (isDataCell(row, column)) {
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            } else {
                item->setFlags(Qt::NoItemFlags);
                item->setBackground(palette().button());
                item->setForeground(palette().buttonText());
            }
            grid_->setItem(row, column, item);
        }
    }

    text1_ = new CellEditor(this);
    text1_->setObjectName(QStringLiteral("Text1"));
    text1_->setFrame(false);
    text1_->setFont(grid_->font());
    text1_->setAlignment(Qt::AlignCenter);
    text1_->hide();
}

void CustomConfigWindow::fitRows() {
    // Both rows share the grid's inner height, so nothing needs a scroll bar.
    auto* rows = grid_->verticalHeader();
    rows->setMinimumSectionSize(0);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    const int inner = grid_->height() - 2 * grid_->frameWidth();
    grid_->setRowHeight(0, inner / 2);
    grid_->setRowHeight(1, inner - inner / 2);
}

void CustomConfigWindow::showCell(int column) {
    const config::MemoryCell& cell = memory_.cell(column);
    QTableWidgetItem* item = grid_->item(MemoryEditor::kDataRow, column);
    item->setText(cell.text);
    item->setBackground(cell.changed ? QBrush(kChangedBackground) : QBrush());
    QFont font = item->font();
    font.setBold(cell.changed);
    item->setFont(font);
}

void CustomConfigWindow::showCurrent(GridCell cell) {
    if (isDataCell(cell.row, cell.column)) {
        grid_->setCurrentCell(cell.row, cell.column);
    } else {
        grid_->clearSelection();
    }
}

void CustomConfigWindow::openEditorOver(int column) {
    QRect place = grid_->visualItemRect(grid_->item(MemoryEditor::kDataRow, column));
    place.translate(grid_->viewport()->mapTo(this, QPoint(0, 0)));
    text1_->setGeometry(place);
    text1_->setText(memory_.cell(column).text);
    text1_->selectAll(); // typing replaces the byte; the arrow keys keep it
    text1_->show();
    text1_->raise();
    text1_->setFocus();
}

void CustomConfigWindow::closeEditor() {
    text1_->hide();
    grid_->setFocus();
}

void CustomConfigWindow::Text1_Enter() {
    const QString text = text1_->text().toUpper();
    text1_->setText(text);
    if (memory_.commitEdit(text) == config::EditOutcome::Rejected) {
        showDataError(session_.boxes);
    }
}

void CustomConfigWindow::data_read_Click() {
    memory_.read(session_, *stat_field_);
}

void CustomConfigWindow::data_write_Click() {
    memory_.write(session_, *stat_field_);
}

void CustomConfigWindow::read_err_stack_Click() {
    error_stack_->read(session_, *stat_field_);
}

void CustomConfigWindow::clear_err_stack_Click() {
    error_stack_->clear(session_, *stat_field_);
}

void CustomConfigWindow::closeEvent(QCloseEvent* event) {
    // Nothing is written on closing; an operation still running stops at its
    // next step, before the window goes away.
    memory_.endOperations();
    error_stack_->endOperations();
    QWidget::closeEvent(event);
}

} // namespace valve::ui
