#include "control_factory.h"
#include "main_window_controls.h"
#include "main_window_parts.h"
#include "protocol/unit_terms.h"
#include "twips.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace valve::ui {

namespace {
// Rows of a frame: a button with the text box it fills right below it.
constexpr int kRowTop = 330;
constexpr int kRowPitch = 810;
constexpr int kBoxBelowButton = 390;
constexpr int kButtonHeight = 360;
constexpr int kBoxHeight = 330;
constexpr int kInset = 150;

QRect buttonInRow(int row, int width) {
    return twipRect(kInset, kRowTop + row * kRowPitch, width, kButtonHeight);
}
QRect boxInRow(int row, int width) {
    return twipRect(kInset, kRowTop + row * kRowPitch + kBoxBelowButton, width, kBoxHeight);
}

// The tab control's pages start below its tab bar; the design measures from
// the top of the whole control.
constexpr int kPageTopInTabControl = 375;
constexpr int kOutOfSightRowTop = 4680 - kPageTopInTabControl;

void buildStatusFrame(QWidget* parent, MainWindowControls& c) {
    c.Frame7 = makeFrame(parent, QStringLiteral("Frame7"), QStringLiteral("NR Status "),
                         twipRect(120, 90, 2640, 2730));
    constexpr int width = 2340;
    c.cmd_status = makeButton(c.Frame7, QStringLiteral("cmd_status"), QStringLiteral("Read Status"),
                              buttonInRow(0, width));
    c.txt_status = makeTextBox(c.Frame7, QStringLiteral("txt_status"), QObject::tr("Status"),
                               boxInRow(0, width), Editing::ReadOnly);
    c.cmd_error = makeButton(c.Frame7, QStringLiteral("cmd_error"), QStringLiteral("Read Error"),
                             buttonInRow(1, width));
    c.txt_error = makeTextBox(c.Frame7, QStringLiteral("txt_error"), QObject::tr("Last error"),
                              boxInRow(1, width), Editing::ReadOnly);
    c.btnReadControl = makeButton(c.Frame7, QStringLiteral("btnReadControl"),
                                  QStringLiteral("Read Command Mode"), buttonInRow(2, width));
    c.txt_control = makeTextBox(c.Frame7, QStringLiteral("txt_control"), QObject::tr("Command mode"),
                                boxInRow(2, width), Editing::ReadOnly);
}

void buildSettingsFrame(QWidget* parent, MainWindowControls& c) {
    c.Frame9 = makeFrame(parent, QStringLiteral("Frame9"), QStringLiteral("Change Settings"),
                         twipRect(2850, 90, 2550, 2730));
    constexpr int width = 2250;
    c.set_i2c_address = makeButton(c.Frame9, QStringLiteral("set_i2c_address"),
                                   QStringLiteral("Set HEX I2C address"), buttonInRow(0, width));
    c.txt_set_i2c_address = makeTextBox(c.Frame9, QStringLiteral("txt_set_i2c_address"),
                                        QObject::tr("New I2C address, hexadecimal"), boxInRow(0, width));
    c.set_command = makeButton(c.Frame9, QStringLiteral("set_command"), QStringLiteral("Set Command Mode"),
                               buttonInRow(1, width));
    c.lstControl = new QListWidget(c.Frame9);
    c.lstControl->setObjectName(QStringLiteral("lstControl"));
    c.lstControl->setAccessibleName(QObject::tr("Command mode to set"));
    c.lstControl->setGeometry(twipRect(kInset, kRowTop + kRowPitch + kBoxBelowButton, width, 1080));
}

void buildAdvancedFrame(QWidget* parent, MainWindowControls& c) {
    c.Frame8 = makeFrame(parent, QStringLiteral("Frame8"), QStringLiteral("Advanced"),
                         twipRect(5490, 90, 2730, 2730));
    constexpr int width = 2430;
    c.cmd_op_mode = makeButton(c.Frame8, QStringLiteral("cmd_op_mode"), QStringLiteral("Read Op Mode"),
                               buttonInRow(0, width));
    c.txt_op_mode = makeTextBox(c.Frame8, QStringLiteral("txt_op_mode"), QObject::tr("Operational mode"),
                                boxInRow(0, width), Editing::ReadOnly);
    c.cmd_fw_rev = makeButton(c.Frame8, QStringLiteral("cmd_fw_rev"),
                              QStringLiteral("Read Firmware  Revision"), buttonInRow(1, width));
    c.txt_fw_rev = makeTextBox(c.Frame8, QStringLiteral("txt_fw_rev"), QObject::tr("Firmware revision"),
                               boxInRow(1, width), Editing::ReadOnly);
    c.set_op_mode = makeButton(c.Frame8, QStringLiteral("set_op_mode"), QStringLiteral("Set Op Mode"),
                               buttonInRow(2, width));
    c.txt_set_op_mode = makeTextBox(c.Frame8, QStringLiteral("txt_set_op_mode"),
                                    QObject::tr("New operational mode"), boxInRow(2, width));
}

// The command modes in the order of their codes, each with its code.
QList<CodedEntry> commandModeEntries() {
    QList<CodedEntry> entries;
    for (const protocol::CommandMode& mode : protocol::kCommandModes) {
        entries.append({QString::fromLatin1(mode.name), mode.code});
    }
    return entries;
}

// Lies below the tab control's bottom edge, so the page clips it away.
void buildOutOfSightRow(QWidget* parent, MainWindowControls& c) {
    c.cmd_cmd_mode = makeButton(parent, QStringLiteral("cmd_cmd_mode"), QStringLiteral("Read Cmd Mode"),
                                twipRect(120, kOutOfSightRowTop, 1500, kButtonHeight));
    c.txt_cmd_mode = makeTextBox(parent, QStringLiteral("txt_cmd_mode"), QObject::tr("Cmd mode"),
                                 twipRect(1740, kOutOfSightRowTop + 15, 1800, kBoxHeight));
    c.set_cmd_mode = makeButton(parent, QStringLiteral("set_cmd_mode"), QStringLiteral("Set Cmd Mode"),
                                twipRect(3720, kOutOfSightRowTop, 1500, kButtonHeight));
    c.Combo_Cmd_Mode = makeDropDown(parent, QStringLiteral("Combo_Cmd_Mode"), QStringLiteral("Cmd Mode"),
                                    QObject::tr("Cmd mode to set"), commandModeEntries(),
                                    twipRect(5340, kOutOfSightRowTop + 15, 1950, kBoxHeight));
}
} // namespace

void buildConfigurationTab(QWidget* parent, MainWindowControls& c) {
    buildStatusFrame(parent, c);
    buildSettingsFrame(parent, c);
    buildAdvancedFrame(parent, c);
    buildOutOfSightRow(parent, c);
}

} // namespace valve::ui
