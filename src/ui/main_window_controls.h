#pragma once

#include "protocol/unit_terms.h"

#include <array>

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QWidget;

namespace valve::ui {

class EventsLogView;

// Every control of the main window, named as the control is named, for the
// code that wires the command handlers. The window owns the widgets.
struct MainWindowControls {
    // Window frame.
    QAction* mnuAbout = nullptr;
    QTabWidget* tabNR = nullptr;
    QGroupBox* Frame3 = nullptr; // "Events Log"
    EventsLogView* LoggerList = nullptr;

    // Tab "Position Control".
    QWidget* positionPage = nullptr;
    QWidget* Picture1 = nullptr;
    QGroupBox* Frame6 = nullptr; // "Change Position"
    std::array<QPushButton*, protocol::kPositionCount> pos{};
    QGroupBox* Frame5 = nullptr; // "Current Position"
    QLineEdit* position = nullptr;
    QGroupBox* Frame4 = nullptr; // "Valve Homing"
    QPushButton* homing = nullptr;

    // Tab "Configuration".
    QWidget* configurationPage = nullptr;
    QGroupBox* Frame7 = nullptr; // "NR Status "
    QPushButton* cmd_status = nullptr;
    QLineEdit* txt_status = nullptr;
    QPushButton* cmd_error = nullptr;
    QLineEdit* txt_error = nullptr;
    QPushButton* btnReadControl = nullptr;
    QLineEdit* txt_control = nullptr;
    QGroupBox* Frame9 = nullptr; // "Change Settings"
    QPushButton* set_i2c_address = nullptr;
    QLineEdit* txt_set_i2c_address = nullptr;
    QPushButton* set_command = nullptr;
    QListWidget* lstControl = nullptr;
    QGroupBox* Frame8 = nullptr; // "Advanced"
    QPushButton* cmd_op_mode = nullptr;
    QLineEdit* txt_op_mode = nullptr;
    QPushButton* cmd_fw_rev = nullptr;
    QLineEdit* txt_fw_rev = nullptr;
    QPushButton* set_op_mode = nullptr;
    QLineEdit* txt_set_op_mode = nullptr;
    // The row below the tab's bottom edge, out of sight.
    QPushButton* cmd_cmd_mode = nullptr;
    QLineEdit* txt_cmd_mode = nullptr;
    QPushButton* set_cmd_mode = nullptr;
    QComboBox* Combo_Cmd_Mode = nullptr;

    // Tab "Timed Events".
    QWidget* timedEventsPage = nullptr;
    std::array<QLabel*, 20> lblEventNo{};
    std::array<QLineEdit*, 20> txtTime{};
    std::array<QLineEdit*, 20> txtPos{};
    std::array<QFrame*, 3> Line{};
    QPushButton* btnRun = nullptr;
    QPushButton* btnStop = nullptr;

    // Frame below the initial client area.
    QGroupBox* frmInternal = nullptr;
    QGroupBox* Frame1 = nullptr; // "Set Custom Position"
    QPushButton* set_pos_a = nullptr;
    QLineEdit* txt_set_pos_a = nullptr;
    QPushButton* set_pos_b = nullptr;
    QLineEdit* txt_set_pos_b = nullptr;
    QPushButton* set_pos_c = nullptr;
    QLineEdit* txt_set_pos_c = nullptr;
    QGroupBox* Frame2 = nullptr; // "Read Custom Position"
    QPushButton* cmd_pos_a = nullptr;
    QLineEdit* txt_pos_a = nullptr;
    QPushButton* cmd_pos_b = nullptr;
    QLineEdit* txt_pos_b = nullptr;
    QPushButton* cmd_pos_c = nullptr;
    QLineEdit* txt_pos_c = nullptr;
    QPushButton* Command1 = nullptr; // "Custom Configuration"
    QPushButton* cmd_clock = nullptr;
    QLineEdit* txt_clock = nullptr;
    QPushButton* set_clock = nullptr;
    QComboBox* Combo_Clock = nullptr;
    QPushButton* set_baud = nullptr;
    QComboBox* Combo_Baud_Rate = nullptr;
};

} // namespace valve::ui
