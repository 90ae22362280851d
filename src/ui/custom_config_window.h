#pragma once

#include "config/error_stack.h"
#include "config/memory_editor.h"
#include "custom_config_cell_editor.h"

#include <QWidget>
#include <array>
#include <memory>

class QPushButton;
class QTableWidget;

namespace valve::protocol {
struct Session;
}

namespace valve::ui {

// Form2, "Custom Configuration": the memory grid with its cell editor, the
// error stack, and the status box stat in which both report. A top-level
// window without owner; it is deleted when closed, so every opening starts
// afresh, and closing it ends its running operation quietly.
class CustomConfigWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidthTwips = 8745;
    static constexpr int kClientHeightTwips = 2490;

    explicit CustomConfigWindow(protocol::Session& session, QWidget* parent = nullptr);
    ~CustomConfigWindow() override;

    [[nodiscard]] config::MemoryEditor& memory() { return memory_; }

    // The button handlers; each runs as one operation on the link.
    void data_read_Click();
    void data_write_Click();
    void read_err_stack_Click();
    void clear_err_stack_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildGrid();
    void fitRows();
    void showCell(int column);
    void showCurrent(config::GridCell cell);
    void openEditorOver(int column);
    void closeEditor();
    void Text1_Enter();

    protocol::Session& session_;
    config::MemoryEditor memory_;

    QPushButton* data_read_ = nullptr;
    QLineEdit* stat_ = nullptr;
    QPushButton* data_write_ = nullptr;
    QTableWidget* grid_ = nullptr;
    CellEditor* text1_ = nullptr;
    QPushButton* read_err_stack_ = nullptr;
    std::array<QLineEdit*, config::ErrorStack::kEntries> err_stack_{};
    QPushButton* clear_err_stack_ = nullptr;

    std::unique_ptr<LineEditField> stat_field_;
    std::array<std::unique_ptr<LineEditField>, config::ErrorStack::kEntries> err_stack_fields_;
    std::unique_ptr<config::ErrorStack> error_stack_;
};

} // namespace valve::ui
