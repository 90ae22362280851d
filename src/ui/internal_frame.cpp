#include "control_factory.h"
#include "main_window_controls.h"
#include "main_window_parts.h"
#include "protocol/unit_terms.h"
#include "twips.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

namespace valve::ui {

namespace {
constexpr int kButtonWidth = 1650;
constexpr int kButtonHeight = 390;
constexpr int kBoxHeight = 330;

// One button with its text box to the right, in the port frames.
struct PortRow {
    QPushButton*& button;
    QLineEdit*& box;
    QString buttonName;
    QString caption;
    QString boxName;
    QString shows;
};

void buildPortFrame(QGroupBox* frame, std::initializer_list<PortRow> rows) {
    int top = 360;
    for (const auto& row : rows) {
        row.button =
            makeButton(frame, row.buttonName, row.caption, twipRect(150, top, kButtonWidth, kButtonHeight));
        row.box = makeTextBox(frame, row.boxName, row.shows, twipRect(1890, top + 30, 960, kBoxHeight));
        top += 480;
    }
}

void buildCustomPositionFrames(QGroupBox* parent, MainWindowControls& c) {
    c.Frame1 = makeFrame(parent, QStringLiteral("Frame1"), QStringLiteral("Set Custom Position"),
                         twipRect(120, 330, 3000, 1800));
    buildPortFrame(
        c.Frame1,
        {
            {c.set_pos_a, c.txt_set_pos_a, QStringLiteral("set_pos_a"), QStringLiteral("Set Pos A Port"),
             QStringLiteral("txt_set_pos_a"), QObject::tr("New position of port A")},
            {c.set_pos_b, c.txt_set_pos_b, QStringLiteral("set_pos_b"), QStringLiteral("Set Pos B Port"),
             QStringLiteral("txt_set_pos_b"), QObject::tr("New position of port B")},
            {c.set_pos_c, c.txt_set_pos_c, QStringLiteral("set_pos_c"), QStringLiteral("Set Pos C Port"),
             QStringLiteral("txt_set_pos_c"), QObject::tr("New position of port C")},
        });
    c.Frame2 = makeFrame(parent, QStringLiteral("Frame2"), QStringLiteral("Read Custom Position"),
                         twipRect(3240, 330, 3000, 1800));
    buildPortFrame(
        c.Frame2,
        {
            {c.cmd_pos_a, c.txt_pos_a, QStringLiteral("cmd_pos_a"), QStringLiteral("Read Pos A Port"),
             QStringLiteral("txt_pos_a"), QObject::tr("Position of port A")},
            {c.cmd_pos_b, c.txt_pos_b, QStringLiteral("cmd_pos_b"), QStringLiteral("Read Pos B Port"),
             QStringLiteral("txt_pos_b"), QObject::tr("Position of port B")},
            {c.cmd_pos_c, c.txt_pos_c, QStringLiteral("cmd_pos_c"), QStringLiteral("Read Pos C Port"),
             QStringLiteral("txt_pos_c"), QObject::tr("Position of port C")},
        });
}

// "4 MHz" and "20 MHz", each with its speed as code.
QList<CodedEntry> clockEntries() {
    QList<CodedEntry> entries;
    for (const std::uint8_t speed : protocol::kClockSpeeds) {
        entries.append({QStringLiteral("%1 MHz").arg(int{speed}), speed});
    }
    return entries;
}

// "9600" to "57600", each with the code that sets it.
QList<CodedEntry> baudEntries() {
    QList<CodedEntry> entries;
    for (const protocol::BaudRate& rate : protocol::kBaudRates) {
        entries.append({QString::number(rate.bitsPerSecond), rate.code});
    }
    return entries;
}

void buildClockAndBaudRows(QGroupBox* parent, MainWindowControls& c) {
    c.cmd_clock = makeButton(parent, QStringLiteral("cmd_clock"), QStringLiteral("Read Clock"),
                             twipRect(240, 2280, kButtonWidth, kButtonHeight));
    c.txt_clock = makeTextBox(parent, QStringLiteral("txt_clock"), QObject::tr("Clock speed"),
                              twipRect(1980, 2310, 1650, kBoxHeight));
    c.set_clock = makeButton(parent, QStringLiteral("set_clock"), QStringLiteral("Set Clock"),
                             twipRect(240, 2790, kButtonWidth, kButtonHeight));
    c.Combo_Clock = makeDropDown(parent, QStringLiteral("Combo_Clock"), QStringLiteral("Clock Speed"),
                                 QObject::tr("Clock speed to set"), clockEntries(),
                                 twipRect(1980, 2820, 1650, kBoxHeight));
    c.set_baud = makeButton(parent, QStringLiteral("set_baud"), QStringLiteral("Set baud rate"),
                            twipRect(240, 3300, kButtonWidth, kButtonHeight));
    c.Combo_Baud_Rate =
        makeDropDown(parent, QStringLiteral("Combo_Baud_Rate"), QStringLiteral("Baud Rate"),
                     QObject::tr("Baud rate to set"), baudEntries(), twipRect(1980, 3330, 1650, kBoxHeight));
}
} // namespace

void buildInternalFrame(QWidget* parent, MainWindowControls& c) {
    c.frmInternal =
        makeFrame(parent, QStringLiteral("frmInternal"),
                  QStringLiteral("Changing the clock or baud rate settings can make the valve inoperable"),
                  twipRect(120, 5520, 8655, 4695));
    buildCustomPositionFrames(c.frmInternal, c);
    c.Command1 = makeButton(c.frmInternal, QStringLiteral("Command1"), QStringLiteral("Custom Configuration"),
                            twipRect(6330, 450, 2235, 540));
    buildClockAndBaudRows(c.frmInternal, c);
}

} // namespace valve::ui
