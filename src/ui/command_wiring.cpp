#include "command_wiring.h"

#include "config/settings_commands.h"
#include "main_window_controls.h"
#include "protocol/position_commands.h"
#include "protocol/query_commands.h"
#include "protocol/session.h"
#include "protocol/text_field.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

namespace valve::ui {

namespace {

// A text box of the window as a handler sees it. A box that has gone reads
// as empty and takes no text.
class LineEditField : public QObject, public protocol::TextField {
public:
    explicit LineEditField(QLineEdit* box) : box_(box) {}
    [[nodiscard]] QString text() const override { return box_ ? box_->text() : QString{}; }
    void setText(const QString& text) override {
        if (box_) {
            box_->setText(text);
        }
    }

private:
    QPointer<QLineEdit> box_;
};

// lstControl: the text of its selected entry, empty when none is selected.
class ListWidgetSelection : public QObject, public config::ListSelection {
public:
    explicit ListWidgetSelection(QListWidget* list) : list_(list) {}
    [[nodiscard]] QString selectedText() const override {
        if (!list_) {
            return {};
        }
        const QList<QListWidgetItem*> selected = list_->selectedItems();
        return selected.isEmpty() ? QString{} : selected.first()->text();
    }

private:
    QPointer<QListWidget> list_;
};

} // namespace

CommandWiring::CommandWiring(const MainWindowControls& controls, protocol::Session& session, QObject* parent)
    : QObject(parent), session_(session) {
    wireQueries(controls);
    wirePositions(controls);
    wireSettings(controls);
    wireListPicks(controls);
}

CommandWiring::~CommandWiring() = default;

// Handlers are coroutines that run to their own end; a click only starts one.
// The adapters they use belong to this object, which lives as long as the
// window, and the link ends every waiting handler when the window closes.

void CommandWiring::wireQueries(const MainWindowControls& c) {
    const auto field = [this](QLineEdit* box) -> protocol::TextField& {
        auto adapter = std::make_unique<LineEditField>(box);
        auto& ref = *adapter;
        adapters_.push_back(std::move(adapter));
        return ref;
    };
    using Query = QCoro::Task<std::optional<int>> (*)(protocol::Session&, protocol::TextField&);
    const auto wire = [this](QPushButton* button, Query query, protocol::TextField& box) {
        connect(button, &QPushButton::clicked, this, [this, query, &box] { query(session_, box); });
    };
    wire(c.cmd_status, protocol::read_status, field(c.txt_status));
    wire(c.cmd_error, protocol::read_error, field(c.txt_error));
    wire(c.btnReadControl, protocol::read_control_method, field(c.txt_control));
    wire(c.cmd_fw_rev, protocol::read_firmware_revision, field(c.txt_fw_rev));
    wire(c.cmd_op_mode, protocol::read_op_mode, field(c.txt_op_mode));
    wire(c.cmd_cmd_mode, protocol::read_cmd_mode, field(c.txt_cmd_mode));
    wire(c.cmd_clock, protocol::read_clock, field(c.txt_clock));

    const auto wirePort = [this](QPushButton* button, protocol::Port port, protocol::TextField& box) {
        connect(button, &QPushButton::clicked, this,
                [this, port, &box] { protocol::read_port_position(session_, port, box); });
    };
    wirePort(c.cmd_pos_a, protocol::Port::A, field(c.txt_pos_a));
    wirePort(c.cmd_pos_b, protocol::Port::B, field(c.txt_pos_b));
    wirePort(c.cmd_pos_c, protocol::Port::C, field(c.txt_pos_c));
}

void CommandWiring::wirePositions(const MainWindowControls& c) {
    auto adapter = std::make_unique<LineEditField>(c.position);
    protocol::TextField& position = *adapter;
    adapters_.push_back(std::move(adapter));
    for (std::size_t index = 0; index < c.pos.size(); ++index) {
        // The button with index i stands for position i + 1.
        const auto target = static_cast<std::int16_t>(protocol::kFirstPosition + index);
        connect(c.pos[index], &QPushButton::clicked, this,
                [this, target, &position] { protocol::move_valve(session_, target, position); });
    }
    connect(c.homing, &QPushButton::clicked, this,
            [this, &position] { protocol::home_valve(session_, position); });
}

void CommandWiring::wireSettings(const MainWindowControls& c) {
    connect(c.set_clock, &QPushButton::clicked, this, [this] { config::set_clock(session_, clock_val_); });
    connect(c.set_baud, &QPushButton::clicked, this, [this] { config::set_baud_rate(session_, baud_val_); });
    connect(c.set_cmd_mode, &QPushButton::clicked, this,
            [this] { config::set_cmd_mode(session_, cmd_mode_val_); });

    auto selection = std::make_unique<ListWidgetSelection>(c.lstControl);
    const config::ListSelection& lstControl = *selection;
    adapters_.push_back(std::move(selection));
    connect(c.set_command, &QPushButton::clicked, this,
            [this, &lstControl] { config::set_command_mode_by_name(session_, lstControl); });

    const auto entry = [this](QLineEdit* box) -> const protocol::TextField& {
        auto adapter = std::make_unique<LineEditField>(box);
        auto& ref = *adapter;
        adapters_.push_back(std::move(adapter));
        return ref;
    };
    const auto wirePort = [this](QPushButton* button, protocol::Port port, const protocol::TextField& box) {
        connect(button, &QPushButton::clicked, this,
                [this, port, &box] { config::set_port_position(session_, port, box); });
    };
    wirePort(c.set_pos_a, protocol::Port::A, entry(c.txt_set_pos_a));
    wirePort(c.set_pos_b, protocol::Port::B, entry(c.txt_set_pos_b));
    wirePort(c.set_pos_c, protocol::Port::C, entry(c.txt_set_pos_c));

    const protocol::TextField& opMode = entry(c.txt_set_op_mode);
    connect(c.set_op_mode, &QPushButton::clicked, this,
            [this, &opMode] { config::set_op_mode(session_, opMode); });
    const protocol::TextField& i2cAddress = entry(c.txt_set_i2c_address);
    connect(c.set_i2c_address, &QPushButton::clicked, this,
            [this, &i2cAddress] { config::set_i2c_address(session_, i2cAddress); });
}

void CommandWiring::wireListPicks(const MainWindowControls& c) {
    // A pick (by mouse or arrow keys) stores the entry's code; it sends nothing.
    const auto wirePick = [this](QComboBox* list, std::optional<std::uint8_t>& held) {
        connect(list, &QComboBox::activated, this, [list, &held](int index) {
            if (index >= 0) {
                held = static_cast<std::uint8_t>(list->itemData(index).toInt());
            }
        });
    };
    wirePick(c.Combo_Clock, clock_val_);
    wirePick(c.Combo_Baud_Rate, baud_val_);
    wirePick(c.Combo_Cmd_Mode, cmd_mode_val_);
}

} // namespace valve::ui
