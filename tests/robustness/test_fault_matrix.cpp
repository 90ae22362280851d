// Every command of the panel against every way the link can fail: driver
// calls returning failing statuses, a silent unit, replies cut short or
// garbled, the adapter unplugged before or during the command. Each case
// checks where the failure is reported and with which words, what the
// display boxes show, and which requests reached the unit.

#include "fault_matrix_rig.h"

#include <QComboBox>
#include <QListWidget>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>

namespace {

using namespace std::chrono_literals;
using valve::sim::DriverCall;
using valve::testing::runUntil;
using valve::testing::matrix::CallFault;
using valve::testing::matrix::Rig;
namespace ft = valve::link::ft;

std::atomic<int> casesChecked{0};

const QString kTalkFailure = QStringLiteral("USB Error - could not talk to the device");
const QString kWriteFailure = QStringLiteral("USB Error - could not write to device");
const QString kCloseFailed = QStringLiteral("Trying to close USB Port - Failed");
const QString kNoDevices = QStringLiteral("Error - Could not find any Nerra Devices through USB");
const QString kFoundOne = QStringLiteral("Found 1 Nerra unit through USB");
const QString kNotReestablished = QStringLiteral("Could not reestablish connection");
const QString kCommunicationError = QStringLiteral("Communication error");
const QString kMoveNotAcknowledged =
    QStringLiteral("Error - Could not set position, make sure position is valid.");
const QString kStatusMissing = QStringLiteral("Error - Could not recieve the position status.");
const QByteArray kGarbage = QByteArrayLiteral("ZZ\r");

// --- what a command is expected to do ---------------------------------------

// How a fault shows itself to the command: it ends with a reply missing at
// one exchange, it receives a garbled reply at one exchange, or it completes.
struct Effect {
    enum class Kind { Completes, FailsAt, GarbageAt };
    Kind kind = Kind::Completes;
    int exchange = -1;
    // Link lines logged inside the failing exchange, before the command's own report.
    QStringList linesAtFailure;
    // The failing exchange's request never reached the unit.
    bool requestLost = false;

    [[nodiscard]] bool completes() const { return kind == Kind::Completes; }
    [[nodiscard]] bool failsAt(int k) const { return kind == Kind::FailsAt && exchange == k; }
    [[nodiscard]] bool garbageAt(int k) const { return kind == Kind::GarbageAt && exchange == k; }
    [[nodiscard]] bool fails() const { return kind == Kind::FailsAt; }
};

struct Outcome {
    QStringList log;                  // the command's own lines, after any link-check lines
    std::map<QString, QString> boxes; // display texts by control name (cell_N, mark_N: the grid)
    std::optional<QString> stat;      // Custom Configuration window only
    QStringList messageBoxes;
    std::optional<bool> runEnabled; // the timed run only
    int sent = -1;                  // requests that reach the unit; -1: by the effect
};

struct Step {
    QByteArray line;
    int replyLength;
};

struct Command {
    QString name;
    bool checksLink = false;
    std::vector<Step> steps;
    std::vector<int> aimedAt; // the exchanges that the per-exchange faults aim at
    std::vector<QString> boxNames;
    std::function<void(Rig&)> prepare; // before the fault is armed
    std::function<void(Rig&)> trigger;
    std::function<Outcome(const Effect&)> expect;
};

// CTest lists each command by its control's name.
void PrintTo(const Command& command, std::ostream* os) {
    *os << command.name.toStdString();
}

QString sentinel(const QString& box) {
    return QStringLiteral("was ") + box;
}

QString hexByte(int value) {
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// The lines of a failure report: what the link logged, then the command's line.
QStringList failureLog(const Effect& effect, const QString& line) {
    return effect.linesAtFailure + QStringList{line};
}

// --- the commands -------------------------------------------------------------

Command valueQuery(QString name, bool checksLink, QByteArray line, QString box, QString success,
                   QString garbage, QString failure = kTalkFailure) {
    Command command;
    command.name = name;
    command.checksLink = checksLink;
    command.steps = {{line, 3}};
    command.aimedAt = {0};
    command.boxNames = {box};
    command.trigger = [name](Rig& rig) { rig.panel->window().findChild<QPushButton*>(name)->click(); };
    command.expect = [=](const Effect& effect) {
        Outcome outcome;
        outcome.boxes[box] = sentinel(box);
        if (effect.completes()) {
            outcome.boxes[box] = success;
        } else if (effect.fails()) {
            outcome.log = failureLog(effect, failure);
        } else {
            outcome.boxes[box] = garbage;
        }
        return outcome;
    };
    return command;
}

std::vector<Command> readCommands() {
    std::vector<Command> commands{
        valueQuery("cmd_status", true, "S\r", "txt_status", "5", "0"),
        valueQuery("cmd_fw_rev", true, "R\r", "txt_fw_rev", "Rev.B Nerra",
                   QStringLiteral("Rev.") + QChar(u'\0') + QStringLiteral(" Nerra")),
        valueQuery("cmd_op_mode", true, "Q\r", "txt_op_mode", "3", "0"),
        valueQuery("cmd_cmd_mode", false, "D\r", "txt_cmd_mode", "Inverted BCD", "Error"),
        valueQuery("cmd_clock", false, "G20\r", "txt_clock", " 20 MHz", " 0 MHz"),
        valueQuery("cmd_pos_a", false, "1\r", "txt_pos_a", "7", "0"),
        valueQuery("cmd_pos_b", false, "2\r", "txt_pos_b", "8", "0"),
        valueQuery("cmd_pos_c", false, "3\r", "txt_pos_c", "9", "0"),
    };

    // A named error code goes into the box and its line into the log; the
    // garbled reply reads as code 0, which changes nothing.
    Command error = valueQuery("cmd_error", true, "E\r", "txt_error", "66", sentinel("txt_error"));
    error.expect = [](const Effect& effect) {
        Outcome outcome;
        outcome.boxes["txt_error"] = sentinel("txt_error");
        if (effect.completes()) {
            outcome.boxes["txt_error"] = "66";
            outcome.log = {"Last error: code 66 - a Valve Positioning Error"};
        } else if (effect.fails()) {
            outcome.log = failureLog(effect, kTalkFailure);
        }
        return outcome;
    };
    commands.push_back(error);

    // Its own failure line; mode 0 empties the box and says so in a box.
    Command control = valueQuery("btnReadControl", true, "D\r", "txt_control", "Inverted BCD", "",
                                 "USB Error - could not read control method.");
    const auto plain = control.expect;
    control.expect = [plain](const Effect& effect) {
        Outcome outcome = plain(effect);
        if (effect.kind == Effect::Kind::GarbageAt) {
            outcome.messageBoxes = {"Invalid Command Mode"};
        }
        return outcome;
    };
    commands.push_back(control);
    return commands;
}

// set_position: "P" acknowledged, then "S" must report the position.
Outcome moveOutcome(const Effect& effect, int target) {
    Outcome outcome;
    outcome.boxes["position"] = sentinel("position");
    if (effect.failsAt(0)) {
        outcome.log = failureLog(effect, kMoveNotAcknowledged);
    } else if (effect.failsAt(1)) {
        outcome.log = failureLog(effect, kStatusMissing);
    } else if (effect.garbageAt(1)) {
        outcome.log = {"Position was not achieved"};
    } else {
        // Any acknowledgement counts, and the rest of a garbled one is dropped
        // before "S" goes out.
        outcome.log = {QStringLiteral("Position set to %1").arg(target)};
        outcome.boxes["position"] = QString::number(target);
    }
    return outcome;
}

std::vector<Command> positionCommands() {
    std::vector<Command> commands;
    for (int index = 0; index < 12; ++index) {
        const int target = index + 1;
        Command command;
        command.name = QStringLiteral("pos_%1").arg(index);
        command.checksLink = true;
        command.steps = {{"P" + hexByte(target).toLatin1() + "\r", 1}, {"S\r", 3}};
        command.aimedAt = {0, 1};
        command.boxNames = {"position"};
        command.trigger = [index](Rig& rig) { rig.c().pos[static_cast<std::size_t>(index)]->click(); };
        command.expect = [target](const Effect& effect) { return moveOutcome(effect, target); };
        commands.push_back(command);
    }

    Command homing;
    homing.name = "homing";
    homing.steps = {{"M\r", 1}, {"S\r", 3}};
    homing.aimedAt = {0, 1};
    homing.boxNames = {"position"};
    homing.trigger = [](Rig& rig) { rig.c().homing->click(); };
    homing.expect = [](const Effect& effect) {
        Outcome outcome;
        outcome.boxes["position"] = sentinel("position");
        if (effect.fails()) {
            outcome.log = failureLog(effect, kTalkFailure);
        } else if (effect.garbageAt(1)) {
            outcome.boxes["position"] = "0";
        } else {
            outcome.boxes["position"] = "1"; // homing goes to position 1
        }
        return outcome;
    };
    commands.push_back(homing);

    // A timed run of one step: position 4 at once.
    Command run;
    run.name = "btnRun";
    run.checksLink = true;
    run.steps = {{"P04\r", 1}, {"S\r", 3}};
    run.aimedAt = {0, 1};
    run.boxNames = {"position"};
    run.prepare = [](Rig& rig) {
        rig.c().txtTime[0]->setText("0");
        rig.c().txtPos[0]->setText("4");
    };
    run.trigger = [](Rig& rig) { rig.c().btnRun->click(); };
    run.expect = [](const Effect& effect) {
        Outcome outcome = moveOutcome(effect, 4);
        outcome.log.prepend("Waited 0 seconds");
        const bool moved = outcome.boxes["position"] == "4";
        // After a failed move the table keeps its running look until Stop.
        outcome.runEnabled = moved;
        if (!moved) {
            outcome.messageBoxes = {"Could not achieve Position 4, in step 0"};
        }
        return outcome;
    };
    commands.push_back(run);
    return commands;
}

// A setting sent with one acknowledged request.
Command setting(QString name, bool checksLink, QByteArray line, QString successLine,
                std::function<void(Rig&)> prepare) {
    Command command;
    command.name = name;
    command.checksLink = checksLink;
    command.steps = {{line, 1}};
    command.aimedAt = {0};
    command.prepare = std::move(prepare);
    command.trigger = [name](Rig& rig) { rig.panel->window().findChild<QPushButton*>(name)->click(); };
    command.expect = [successLine](const Effect& effect) {
        Outcome outcome;
        outcome.log = effect.fails() ? failureLog(effect, kTalkFailure) : QStringList{successLine};
        return outcome;
    };
    return command;
}

void pick(QComboBox* list, const QString& entry) {
    const int index = list->findText(entry);
    list->setCurrentIndex(index);
    emit list->activated(index);
}

std::function<void(Rig&)> typeInto(QLineEdit* valve::ui::MainWindowControls::*box, QString text) {
    return [box, text](Rig& rig) { (rig.c().*box)->setText(text); };
}

std::vector<Command> settingCommands() {
    using C = valve::ui::MainWindowControls;
    std::vector<Command> commands{
        setting("set_baud", false, "X04\r", "Baud rate changed",
                [](Rig& rig) { pick(rig.c().Combo_Baud_Rate, "57600"); }),
        setting("set_cmd_mode", false, "F05\r", "Command mode changed to 5",
                [](Rig& rig) { pick(rig.c().Combo_Cmd_Mode, "Dual Pulse"); }),
        setting("set_command", true, "F02\r",
                "Control method changed to Pulse. Cycle power to complete change.",
                [](Rig& rig) {
                    rig.c().lstControl->setCurrentItem(
                        rig.c().lstControl->findItems("Pulse", Qt::MatchExactly)[0]);
                }),
        setting("set_pos_a", false, "A0C\r", "Port A changed", typeInto(&C::txt_set_pos_a, "12")),
        setting("set_pos_b", false, "B0C\r", "Port B changed", typeInto(&C::txt_set_pos_b, "12")),
        setting("set_pos_c", false, "C0C\r", "Port C changed", typeInto(&C::txt_set_pos_c, "12")),
        setting("set_i2c_address", true, "N5A\r", "I2C address changed to 5a",
                typeInto(&C::txt_set_i2c_address, "5a")),
    };

    // The link check comes before the confirmation, which is answered OK.
    Command opMode = setting("set_op_mode", true, "O07\r",
                             "Op Mode changed to 7. Cycle power to complete configuration change.",
                             typeInto(&C::txt_set_op_mode, "7"));
    const auto plain = opMode.expect;
    opMode.expect = [plain](const Effect& effect) {
        Outcome outcome = plain(effect);
        outcome.messageBoxes = {
            "Warning - Changing the Operational Mode to an invalid number can cause your unit to stop "
            "operating. Are you sure you want to change the Op. Mode?"};
        return outcome;
    };
    commands.push_back(opMode);

    // Select 0x20, write the clock, read it back.
    Command clock;
    clock.name = "set_clock";
    clock.steps = {{"I20\r", 1}, {"W14\r", 1}, {"G20\r", 3}};
    clock.aimedAt = {0, 1, 2};
    clock.prepare = [](Rig& rig) { pick(rig.c().Combo_Clock, "20 MHz"); };
    clock.trigger = [](Rig& rig) { rig.c().set_clock->click(); };
    clock.expect = [](const Effect& effect) {
        Outcome outcome;
        if (effect.fails()) {
            outcome.log = failureLog(effect, kTalkFailure);
        } else if (effect.garbageAt(2)) {
            outcome.log = {"Programming error!"};
        } else {
            outcome.log = {"Clock speed changed!"};
        }
        return outcome;
    };
    commands.push_back(clock);
    return commands;
}

// --- the Custom Configuration window ---------------------------------------------

QString valueText(int value) {
    return QString::number(value);
}

std::vector<Command> customWindowCommands() {
    std::vector<Command> commands;

    // Read: the cells first hold C0..CF from an earlier read; the unit now holds D0..DF.
    Command read;
    read.name = "data_read";
    for (int column = 1; column <= 16; ++column) {
        read.steps.push_back({"G" + hexByte(0x0F + column).toLatin1() + "\r", 3});
        read.boxNames.push_back(QStringLiteral("cell_%1").arg(column));
    }
    read.aimedAt = {0, 7, 15};
    read.prepare = [](Rig& rig) {
        rig.openForm();
        rig.pressInForm("data_read");
        runUntil([&] { return rig.idle() && rig.textBox("stat")->text() == "Read OK!"; });
        for (int i = 0; i < 16; ++i) {
            rig.unit().state().memory[static_cast<std::size_t>(0x10 + i)] =
                static_cast<std::uint8_t>(0xD0 + i);
        }
    };
    read.trigger = [](Rig& rig) { rig.pressInForm("data_read"); };
    read.expect = [](const Effect& effect) {
        Outcome outcome;
        outcome.log = effect.linesAtFailure;
        for (int column = 1; column <= 16; ++column) {
            const int k = column - 1;
            const bool reached = !effect.fails() || k < effect.exchange;
            outcome.boxes[QStringLiteral("cell_%1").arg(column)] =
                effect.garbageAt(k) ? QStringLiteral("ZZ") : hexByte((reached ? 0xD0 : 0xC0) + k);
        }
        outcome.stat = effect.fails() ? kCommunicationError : QStringLiteral("Read OK!");
        return outcome;
    };
    commands.push_back(read);

    // Write with one edited cell: 0xA5 for address 0x12.
    Command write;
    write.name = "data_write";
    write.steps = {{"I12\r", 1}, {"WA5\r", 1}, {"G12\r", 3}};
    write.aimedAt = {0, 1, 2};
    write.boxNames = {"cell_3", "mark_3"};
    write.prepare = [](Rig& rig) {
        rig.openForm();
        rig.editCell(3, "a5");
    };
    write.trigger = [](Rig& rig) { rig.pressInForm("data_write"); };
    write.expect = [](const Effect& effect) {
        Outcome outcome;
        outcome.log = effect.linesAtFailure;
        outcome.boxes["cell_3"] = "A5";
        outcome.boxes["mark_3"] = "marked";
        if (effect.fails()) {
            outcome.stat = kCommunicationError;
        } else if (effect.garbageAt(2)) {
            outcome.stat = "Programming error!";
        } else {
            outcome.stat = "Programming OK!";
            outcome.boxes["mark_3"] = "clear";
        }
        return outcome;
    };
    commands.push_back(write);

    const std::array<int, 5> stack{0x2C, 0x37, 0x42, 0x4D, 0x58};
    Command readStack;
    readStack.name = "read_err_stack";
    for (int entry = 0; entry < 5; ++entry) {
        readStack.steps.push_back({"G" + hexByte(7 + entry).toLatin1() + "\r", 3});
        readStack.boxNames.push_back(QStringLiteral("err_stack_%1").arg(entry));
    }
    readStack.aimedAt = {0, 2, 4};
    readStack.prepare = [](Rig& rig) { rig.openForm(); };
    readStack.trigger = [](Rig& rig) { rig.pressInForm("read_err_stack"); };
    readStack.expect = [stack](const Effect& effect) {
        Outcome outcome;
        outcome.log = effect.linesAtFailure;
        for (int entry = 0; entry < 5; ++entry) {
            const QString box = QStringLiteral("err_stack_%1").arg(entry);
            if (effect.fails() && entry == effect.exchange) {
                outcome.boxes[box] = ""; // emptied when its request went out
            } else if (effect.fails() && entry > effect.exchange) {
                outcome.boxes[box] = sentinel(box);
            } else {
                outcome.boxes[box] = effect.garbageAt(entry) ? QStringLiteral("0") : valueText(stack[entry]);
            }
        }
        outcome.stat = effect.fails() ? kCommunicationError : QStringLiteral("Read OK!");
        return outcome;
    };
    commands.push_back(readStack);

    Command clearStack;
    clearStack.name = "clear_err_stack";
    for (int entry = 0; entry < 5; ++entry) {
        const QByteArray address = hexByte(7 + entry).toLatin1();
        clearStack.steps.push_back({"I" + address + "\r", 1});
        clearStack.steps.push_back({"W00\r", 1});
        clearStack.steps.push_back({"G" + address + "\r", 3});
        clearStack.boxNames.push_back(QStringLiteral("err_stack_%1").arg(entry));
    }
    clearStack.aimedAt = {0, 1, 2, 6, 7, 8, 12, 13, 14};
    clearStack.prepare = [](Rig& rig) { rig.openForm(); };
    clearStack.trigger = [](Rig& rig) { rig.pressInForm("clear_err_stack"); };
    clearStack.expect = [](const Effect& effect) {
        Outcome outcome;
        outcome.log = effect.linesAtFailure;
        for (int entry = 0; entry < 5; ++entry) {
            const QString box = QStringLiteral("err_stack_%1").arg(entry);
            outcome.boxes[box] = sentinel(box); // clearing never touches the boxes
        }
        if (effect.fails()) {
            outcome.stat = kCommunicationError;
        } else if (effect.kind == Effect::Kind::GarbageAt && effect.exchange % 3 == 2) {
            outcome.stat = "Programming error!"; // a read-back other than "00" stops the clear
            outcome.sent = effect.exchange + 1;
        } else {
            outcome.stat = "Programming OK!";
        }
        return outcome;
    };
    commands.push_back(clearStack);
    return commands;
}

std::vector<Command> allCommands() {
    std::vector<Command> all;
    for (auto part : {readCommands(), positionCommands(), settingCommands(), customWindowCommands()}) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// --- the faults ------------------------------------------------------------------

struct Fault {
    QString name;
    std::function<void(Rig&)> arm;
    Effect effect;
    QStringList checkLines;              // logged by the link check before the command's own lines
    std::function<bool(Rig&)> tookPlace; // the fault met the command where it was aimed
};

QString statusName(valve::link::FtStatus status) {
    switch (status) {
    case ft::INVALID_HANDLE:
        return "FT_INVALID_HANDLE";
    case ft::DEVICE_NOT_FOUND:
        return "FT_DEVICE_NOT_FOUND";
    case ft::IO_ERROR:
        return "FT_IO_ERROR";
    default:
        return QString::number(status);
    }
}

Effect failsAt(int exchange, QStringList lines = {}, bool requestLost = false) {
    return {Effect::Kind::FailsAt, exchange, std::move(lines), requestLost};
}

std::function<bool(Rig&)> callFaultsFired() {
    return [](Rig& rig) { return rig.driver.allFired(); };
}

// A fault set up just before the request of one exchange goes out.
Fault beforeRequest(QString name, int exchange, Effect effect, std::function<void(Rig&)> setUp) {
    auto reached = std::make_shared<bool>(false);
    Fault fault;
    fault.name = std::move(name);
    fault.effect = std::move(effect);
    fault.arm = [exchange, setUp, reached](Rig& rig) {
        *reached = false;
        rig.driver.beforeWrite = [exchange, setUp, reached, &rig](int index) {
            if (index == exchange) {
                *reached = true;
                setUp(rig);
            }
        };
    };
    fault.tookPlace = [reached](Rig&) { return *reached; };
    return fault;
}

Fault callFault(QString name, std::vector<CallFault> faults, Effect effect) {
    Fault fault;
    fault.name = std::move(name);
    fault.effect = std::move(effect);
    fault.arm = [faults](Rig& rig) { rig.driver.faults = faults; };
    fault.tookPlace = callFaultsFired();
    return fault;
}

// The faults that meet the command before its first request: the adapter
// gone or replaced, the link probe failing.
std::vector<Fault> linkFaults(const Command& command) {
    std::vector<Fault> faults;
    const bool checks = command.checksLink;

    Fault unplugged;
    unplugged.name = "adapter unplugged before the command";
    unplugged.arm = [](Rig& rig) { rig.driver.unplug(0); };
    unplugged.effect = failsAt(0, {kWriteFailure}, true);
    if (checks) {
        unplugged.checkLines = {kCloseFailed, kNoDevices, kNotReestablished};
    }
    faults.push_back(unplugged);

    Fault replaced;
    replaced.name = "adapter unplugged and plugged in again before the command";
    replaced.arm = [](Rig& rig) {
        rig.driver.unplug(0);
        rig.driver.replug(0);
    };
    if (checks) {
        replaced.checkLines = {kCloseFailed, kFoundOne};
    } else {
        replaced.effect = failsAt(0, {kWriteFailure}, true);
    }
    faults.push_back(replaced);

    // The probe fails on a live handle: the link is closed and opened anew.
    for (const auto status : {ft::IO_ERROR, ft::INVALID_HANDLE}) {
        Fault probe = callFault("FT_SetFlowControl probe returns " + statusName(status),
                                {{DriverCall::SetFlowControl, status}}, {});
        if (checks) {
            probe.checkLines = {kFoundOne};
        } else {
            probe.tookPlace = [](Rig& rig) { return rig.driver.noneFired(); };
        }
        faults.push_back(probe);
    }

    Fault reopenFails = callFault(
        "probe fails and FT_OpenEx returns FT_DEVICE_NOT_FOUND",
        {{DriverCall::SetFlowControl, ft::IO_ERROR}, {DriverCall::OpenEx, ft::DEVICE_NOT_FOUND}}, {});
    if (checks) {
        reopenFails.checkLines = {kFoundOne, "Could not open USB Device", kNotReestablished};
        reopenFails.effect = failsAt(0, {kWriteFailure}, true);
    } else {
        reopenFails.tookPlace = [](Rig& rig) { return rig.driver.noneFired(); };
    }
    faults.push_back(reopenFails);

    // A step of the reopening fails: the link stays closed, the command still
    // goes out and fails at once.
    struct ReopenStep {
        DriverCall call;
        valve::link::FtStatus status;
        QString line;
    };
    const std::array<ReopenStep, 5> reopenSteps{{
        {DriverCall::CreateDeviceInfoList, ft::IO_ERROR, kNoDevices},
        {DriverCall::SetBaudRate, ft::IO_ERROR, "Could not set the Baud Rate through USB"},
        {DriverCall::SetDataCharacteristics, ft::INVALID_HANDLE, "Could not configure USB connection"},
        {DriverCall::SetFlowControl, ft::IO_ERROR, "Could not set flow control"},
        {DriverCall::SetTimeouts, ft::IO_ERROR, "Could not set the time-outs of the USB connection"},
    }};
    for (const ReopenStep& step : reopenSteps) {
        Fault stepFails =
            callFault("probe fails and " + valve::sim::driverCallName(step.call) +
                          " of the reopening returns " + statusName(step.status),
                      {{DriverCall::SetFlowControl, ft::IO_ERROR}, {step.call, step.status}}, {});
        if (checks) {
            stepFails.checkLines = step.call == DriverCall::CreateDeviceInfoList
                                       ? QStringList{kNoDevices, kNotReestablished}
                                       : QStringList{kFoundOne, step.line, kNotReestablished};
            stepFails.effect = failsAt(0, {kWriteFailure}, true);
        } else {
            stepFails.tookPlace = [](Rig& rig) { return rig.driver.noneFired(); };
        }
        faults.push_back(stepFails);
    }

    // The close after a failed probe fails and leaves the adapter open here:
    // the search finds no free unit, but the old handle still works.
    Fault closeFails =
        callFault("probe fails and FT_Close returns FT_IO_ERROR",
                  {{DriverCall::SetFlowControl, ft::IO_ERROR}, {DriverCall::Close, ft::IO_ERROR}}, {});
    if (checks) {
        closeFails.checkLines = {kCloseFailed, kNoDevices, kNotReestablished};
    } else {
        closeFails.tookPlace = [](Rig& rig) { return rig.driver.noneFired(); };
    }
    faults.push_back(closeFails);

    // The purge status is not looked at: the reopened link is good.
    Fault purgeFails =
        callFault("probe fails and FT_Purge of the reopened link returns FT_IO_ERROR",
                  {{DriverCall::SetFlowControl, ft::IO_ERROR}, {DriverCall::Purge, ft::IO_ERROR}}, {});
    if (checks) {
        purgeFails.checkLines = {kFoundOne};
    } else {
        purgeFails.tookPlace = [](Rig& rig) { return rig.driver.noneFired(); };
    }
    faults.push_back(purgeFails);
    return faults;
}

// The faults aimed at one exchange: its write, its reply characters, the unit
// and the adapter while it runs.
std::vector<Fault> exchangeFaults(int k, const Step& step) {
    std::vector<Fault> faults;
    const QString at =
        QStringLiteral(" (request %1, %2)").arg(k).arg(QString::fromLatin1(step.line.trimmed()));
    const int length = step.replyLength;

    for (const auto status : {ft::IO_ERROR, ft::INVALID_HANDLE}) {
        faults.push_back(callFault("FT_Write returns " + statusName(status) + at,
                                   {{DriverCall::Write, status, k}}, failsAt(k, {kWriteFailure}, true)));
    }
    for (int character = 0; character < length; ++character) {
        const QString where = QStringLiteral(" at reply character %1").arg(character) + at;
        for (const auto status : {ft::IO_ERROR, ft::INVALID_HANDLE}) {
            faults.push_back(callFault("FT_GetQueueStatus returns " + statusName(status) + where,
                                       {{DriverCall::GetQueueStatus, status, k, character}}, failsAt(k)));
        }
        // Status 4 counts as success only together with a byte.
        faults.push_back(callFault("FT_Read returns FT_IO_ERROR without a byte" + where,
                                   {{DriverCall::Read, ft::IO_ERROR, k, character}}, failsAt(k)));
        faults.push_back(callFault("FT_Read returns FT_INVALID_HANDLE" + where,
                                   {{DriverCall::Read, ft::INVALID_HANDLE, k, character}}, failsAt(k)));
        faults.push_back(callFault("FT_Read returns FT_IO_ERROR with the byte" + where,
                                   {{DriverCall::Read, ft::IO_ERROR, k, character, true}}, {}));
    }

    faults.push_back(beforeRequest("unit switched off" + at, k, failsAt(k),
                                   [](Rig& rig) { rig.unit().setPowered(false); }));
    for (int keep = 0; keep < length; ++keep) {
        faults.push_back(beforeRequest(
            QStringLiteral("reply cut after %1 characters").arg(keep) + at, k, failsAt(k),
            [keep](Rig& rig) { rig.unit().truncateReplies(static_cast<std::size_t>(keep), 1); }));
    }
    faults.push_back(beforeRequest("garbled reply \"ZZ\\r\"" + at, k, {Effect::Kind::GarbageAt, k, {}, false},
                                   [](Rig& rig) { rig.unit().scriptReply(kGarbage); }));

    // The reply is held back; the adapter goes while the command waits for it.
    Fault unplugDuring;
    unplugDuring.name = "adapter unplugged while waiting for the reply" + at;
    unplugDuring.effect = failsAt(k);
    auto unplugged = std::make_shared<bool>(false);
    unplugDuring.arm = [k, unplugged](Rig& rig) {
        *unplugged = false;
        rig.driver.beforeWrite = [k, &rig](int index) {
            if (index == k) {
                rig.unit().delayReplies(40ms, 1);
            }
        };
        rig.driver.afterWrite = [k, unplugged, &rig](int index) {
            if (index == k) {
                QTimer::singleShot(5ms, &rig.timers, [unplugged, &rig] {
                    rig.driver.unplug(0);
                    *unplugged = true;
                });
            }
        };
    };
    unplugDuring.tookPlace = [unplugged](Rig&) { return *unplugged; };
    faults.push_back(unplugDuring);
    return faults;
}

std::vector<Fault> faultsFor(const Command& command) {
    Fault none;
    none.name = "no fault";
    std::vector<Fault> faults{none};
    for (const Fault& fault : linkFaults(command)) {
        faults.push_back(fault);
    }
    for (const int k : command.aimedAt) {
        for (const Fault& fault : exchangeFaults(k, command.steps.at(static_cast<std::size_t>(k)))) {
            faults.push_back(fault);
        }
    }
    return faults;
}

// --- running one case ------------------------------------------------------------

QString shown(Rig& rig, const QString& name) {
    if (name.startsWith("cell_") || name.startsWith("mark_")) {
        const int column = name.mid(5).toInt();
        if (rig.form() == nullptr) {
            return "<no Custom Configuration window>";
        }
        const auto& cell = rig.form()->memory().cell(column);
        if (name.startsWith("mark_")) {
            return cell.changed ? "marked" : "clear";
        }
        QTableWidget* grid = rig.grid();
        if (grid->item(1, column)->text() != cell.text) {
            return "<grid shows " + grid->item(1, column)->text() + ", cell holds " + cell.text + ">";
        }
        return cell.text;
    }
    QLineEdit* box = rig.textBox(name);
    return box ? box->text() : "<no box " + name + ">";
}

QString lines(const QList<QByteArray>& list) {
    QStringList texts;
    for (const QByteArray& line : list) {
        texts << QString::fromLatin1(line).replace("\r", "\\r");
    }
    return "[" + texts.join(", ") + "]";
}

// Runs one command under one fault; false when the command never ended (the
// rig is then no longer usable).
// Nothing may reach the unit or the log after a case has been checked.
void expectQuietSince(Rig& rig, const std::string& previousCase) {
    if (previousCase.empty()) {
        return;
    }
    EXPECT_EQ(rig.sent().size(), rig.sentAtCheck)
        << previousCase << ": a request went out after the command ended";
    EXPECT_EQ(rig.log().size(), rig.loggedAtCheck)
        << previousCase << ": a line was logged after the command ended";
}

bool runCase(Rig& rig, const Command& command, const Fault& fault) {
    const std::string label = (command.name + " / " + fault.name).toStdString();
    expectQuietSince(rig, rig.lastCase);
    rig.lastCase = label;
    SCOPED_TRACE(label);
    ++casesChecked;

    rig.reset();
    if (command.prepare) {
        command.prepare(rig);
    }
    for (const QString& name : command.boxNames) {
        if (QLineEdit* box = rig.textBox(name)) {
            box->setText(sentinel(name));
        }
    }
    rig.clearRecords();
    rig.driver.arm();
    if (fault.arm) {
        fault.arm(rig);
    }

    command.trigger(rig);
    const bool ended = runUntil([&] { return rig.idle(); }, 3000ms);
    EXPECT_TRUE(ended) << label << ": the command did not end";
    QCoreApplication::processEvents(); // whatever a finished command would still do
    rig.driver.disarm();
    if (!ended) {
        return false;
    }
    if (fault.tookPlace) {
        EXPECT_TRUE(fault.tookPlace(rig))
            << label << ": the fault did not meet the command where it was aimed";
    }

    const Outcome outcome = command.expect(fault.effect);
    const QStringList expectedLog = fault.checkLines + outcome.log;
    EXPECT_EQ(rig.log(), expectedLog) << label << ": events log";
    for (const auto& [name, text] : outcome.boxes) {
        EXPECT_EQ(shown(rig, name), text) << label << ": " << name.toStdString();
    }
    if (outcome.stat) {
        EXPECT_EQ(shown(rig, "stat"), *outcome.stat) << label << ": stat";
    }
    EXPECT_EQ(rig.boxes.texts, outcome.messageBoxes) << label << ": message boxes";
    if (outcome.runEnabled) {
        EXPECT_EQ(rig.c().btnRun->isEnabled(), *outcome.runEnabled) << label << ": Run enabled";
    }

    // Exactly the requests up to where the command stopped, nothing after.
    const int total = static_cast<int>(command.steps.size());
    int sent = outcome.sent >= 0 ? outcome.sent : total;
    if (fault.effect.fails()) {
        sent = fault.effect.exchange + (fault.effect.requestLost ? 0 : 1);
    }
    QList<QByteArray> expectedLines;
    for (int k = 0; k < sent; ++k) {
        expectedLines << command.steps.at(static_cast<std::size_t>(k)).line;
    }
    EXPECT_EQ(lines(rig.sent()), lines(expectedLines)) << label << ": requests on the wire";
    EXPECT_FALSE(rig.driver.wire(0).interleaved()) << label << ": a request overlapped an owed reply";
    rig.sentAtCheck = rig.sent().size();
    rig.loggedAtCheck = rig.log().size();
    return true;
}

class FaultMatrix : public ::testing::TestWithParam<Command> {};

TEST_P(FaultMatrix, EveryFaultEndsAsTheCommandPromises) {
    const Command& command = GetParam();
    auto rig = std::make_unique<Rig>();
    ASSERT_TRUE(rig->started) << command.name.toStdString() << ": the panel did not connect";
    for (const Fault& fault : faultsFor(command)) {
        if (!runCase(*rig, command, fault)) {
            rig = std::make_unique<Rig>(); // a hung command spoils the rig for the cases after it
            ASSERT_TRUE(rig->started);
        }
    }
    runUntil([] { return false; }, 2 * Rig::kReplyLimit);
    expectQuietSince(*rig, rig->lastCase);
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultMatrix, ::testing::ValuesIn(allCommands()),
                         [](const ::testing::TestParamInfo<Command>& info) {
                             return info.param.name.toStdString();
                         });

class CaseCount : public ::testing::Environment {
public:
    void TearDown() override { std::printf("fault matrix: %d cases checked\n", casesChecked.load()); }
};

const auto* const kCaseCount = ::testing::AddGlobalTestEnvironment(new CaseCount);

} // namespace
