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

// Commands, outcomes and faults are built with designated initializers; the
// members left out keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

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
    std::function<void(Rig&)> prepare; // before the fault is armed; the command's button is then pressed
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

// A value read with one request into one box.
Command valueQuery(QString name, bool checksLink, QByteArray line, QString box, QString success,
                   QString garbage, QString failure = kTalkFailure) {
    Command command;
    command.name = name;
    command.checksLink = checksLink;
    command.steps = {{line, 3}};
    command.aimedAt = {0};
    command.boxNames = {box};
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
    error.expect = [plain = error.expect](const Effect& effect) {
        Outcome outcome = plain(effect);
        if (effect.completes()) {
            outcome.log = {"Last error: code 66 - a Valve Positioning Error"};
        }
        return outcome;
    };
    commands.push_back(error);

    // Its own failure line; mode 0 empties the box and says so in a box.
    Command control = valueQuery("btnReadControl", true, "D\r", "txt_control", "Inverted BCD", "",
                                 "USB Error - could not read control method.");
    control.expect = [plain = control.expect](const Effect& effect) {
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
    for (int target = 1; target <= 12; ++target) {
        commands.push_back(
            {.name = QStringLiteral("pos_%1").arg(target - 1),
             .checksLink = true,
             .steps = {{"P" + hexByte(target).toLatin1() + "\r", 1}, {"S\r", 3}},
             .aimedAt = {0, 1},
             .boxNames = {"position"},
             .expect = [target](const Effect& effect) { return moveOutcome(effect, target); }});
    }
    commands.push_back({.name = "homing",
                        .steps = {{"M\r", 1}, {"S\r", 3}},
                        .aimedAt = {0, 1},
                        .boxNames = {"position"},
                        .expect = [](const Effect& effect) {
                            Outcome outcome;
                            outcome.boxes["position"] = sentinel("position");
                            if (effect.fails()) {
                                outcome.log = failureLog(effect, kTalkFailure);
                            } else {
                                outcome.boxes["position"] =
                                    effect.garbageAt(1) ? "0" : "1"; // homing goes to 1
                            }
                            return outcome;
                        }});
    // A timed run of one step: position 4 at once.
    commands.push_back({.name = "btnRun",
                        .checksLink = true,
                        .steps = {{"P04\r", 1}, {"S\r", 3}},
                        .aimedAt = {0, 1},
                        .boxNames = {"position"},
                        .prepare =
                            [](Rig& rig) {
                                rig.c().txtTime[0]->setText("0");
                                rig.c().txtPos[0]->setText("4");
                            },
                        .expect =
                            [](const Effect& effect) {
                                Outcome outcome = moveOutcome(effect, 4);
                                outcome.log.prepend("Waited 0 seconds");
                                const bool moved = outcome.boxes["position"] == "4";
                                // After a failed move the table keeps its running look until Stop.
                                outcome.runEnabled = moved;
                                if (!moved) {
                                    outcome.messageBoxes = {"Could not achieve Position 4, in step 0"};
                                }
                                return outcome;
                            }});
    return commands;
}

// A setting sent with one acknowledged request.
Command setting(QString name, bool checksLink, QByteArray line, QString successLine,
                std::function<void(Rig&)> prepare) {
    return {.name = name,
            .checksLink = checksLink,
            .steps = {{line, 1}},
            .aimedAt = {0},
            .prepare = std::move(prepare),
            .expect = [successLine](const Effect& effect) {
                return Outcome{.log = effect.fails() ? failureLog(effect, kTalkFailure)
                                                     : QStringList{successLine}};
            }};
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
    opMode.expect = [plain = opMode.expect](const Effect& effect) {
        Outcome outcome = plain(effect);
        outcome.messageBoxes = {
            "Warning - Changing the Operational Mode to an invalid number can cause your unit to stop "
            "operating. Are you sure you want to change the Op. Mode?"};
        return outcome;
    };
    commands.push_back(opMode);

    // Select 0x20, write the clock, read it back.
    commands.push_back({.name = "set_clock",
                        .steps = {{"I20\r", 1}, {"W14\r", 1}, {"G20\r", 3}},
                        .aimedAt = {0, 1, 2},
                        .prepare = [](Rig& rig) { pick(rig.c().Combo_Clock, "20 MHz"); },
                        .expect =
                            [](const Effect& effect) {
                                Outcome outcome{.log = {"Clock speed changed!"}};
                                if (effect.fails()) {
                                    outcome.log = failureLog(effect, kTalkFailure);
                                } else if (effect.garbageAt(2)) {
                                    outcome.log = {"Programming error!"};
                                }
                                return outcome;
                            }});
    return commands;
}

// --- the Custom Configuration window ---------------------------------------------

// Outcome of a form command: the link's lines only, "Communication error" on failure.
Outcome formOutcome(const Effect& effect, const QString& success) {
    return {.log = effect.linesAtFailure, .stat = effect.fails() ? kCommunicationError : success};
}

std::vector<Command> customWindowCommands() {
    std::vector<Command> commands;
    const auto openForm = [](Rig& rig) { rig.openForm(); };

    // Read: the cells first hold C0..CF from an earlier read; the unit now holds D0..DF.
    Command read{.name = "data_read", .aimedAt = {0, 7, 15}};
    for (int column = 1; column <= 16; ++column) {
        read.steps.push_back({"G" + hexByte(0x0F + column).toLatin1() + "\r", 3});
        read.boxNames.push_back(QStringLiteral("cell_%1").arg(column));
    }
    read.prepare = [](Rig& rig) {
        rig.openForm();
        rig.press("data_read");
        runUntil([&] { return rig.idle() && rig.textBox("stat")->text() == "Read OK!"; });
        for (int i = 0; i < 16; ++i) {
            rig.unit().state().memory[static_cast<std::size_t>(0x10 + i)] =
                static_cast<std::uint8_t>(0xD0 + i);
        }
    };
    read.expect = [](const Effect& effect) {
        Outcome outcome = formOutcome(effect, "Read OK!");
        for (int k = 0; k < 16; ++k) {
            const bool reached = !effect.fails() || k < effect.exchange;
            outcome.boxes[QStringLiteral("cell_%1").arg(k + 1)] =
                effect.garbageAt(k) ? QStringLiteral("ZZ") : hexByte((reached ? 0xD0 : 0xC0) + k);
        }
        return outcome;
    };
    commands.push_back(read);

    // Write with one edited cell: 0xA5 for address 0x12.
    commands.push_back({.name = "data_write",
                        .steps = {{"I12\r", 1}, {"WA5\r", 1}, {"G12\r", 3}},
                        .aimedAt = {0, 1, 2},
                        .boxNames = {"cell_3", "mark_3"},
                        .prepare =
                            [](Rig& rig) {
                                rig.openForm();
                                rig.editCell(3, "a5");
                            },
                        .expect =
                            [](const Effect& effect) {
                                const bool ok = !effect.fails() && !effect.garbageAt(2);
                                Outcome outcome =
                                    formOutcome(effect, ok ? "Programming OK!" : "Programming error!");
                                outcome.boxes["cell_3"] = "A5";
                                outcome.boxes["mark_3"] = ok ? "clear" : "marked";
                                return outcome;
                            }});

    Command readStack{.name = "read_err_stack", .aimedAt = {0, 2, 4}, .prepare = openForm};
    Command clearStack{
        .name = "clear_err_stack", .aimedAt = {0, 1, 2, 6, 7, 8, 12, 13, 14}, .prepare = openForm};
    for (int entry = 0; entry < 5; ++entry) {
        const QByteArray address = hexByte(7 + entry).toLatin1();
        readStack.steps.push_back({"G" + address + "\r", 3});
        clearStack.steps.insert(clearStack.steps.end(),
                                {{"I" + address + "\r", 1}, {"W00\r", 1}, {"G" + address + "\r", 3}});
        readStack.boxNames.push_back(QStringLiteral("err_stack_%1").arg(entry));
    }
    clearStack.boxNames = readStack.boxNames;
    readStack.expect = [](const Effect& effect) {
        const std::array<int, 5> stack{0x2C, 0x37, 0x42, 0x4D, 0x58};
        Outcome outcome = formOutcome(effect, "Read OK!");
        for (int entry = 0; entry < 5; ++entry) {
            const QString box = QStringLiteral("err_stack_%1").arg(entry);
            if (effect.fails() && entry == effect.exchange) {
                outcome.boxes[box] = ""; // emptied when its request went out
            } else if (effect.fails() && entry > effect.exchange) {
                outcome.boxes[box] = sentinel(box);
            } else {
                outcome.boxes[box] =
                    effect.garbageAt(entry) ? QStringLiteral("0") : QString::number(stack[entry]);
            }
        }
        return outcome;
    };
    clearStack.expect = [](const Effect& effect) {
        // A read-back other than "00" stops the clear.
        const bool readBackBad = effect.kind == Effect::Kind::GarbageAt && effect.exchange % 3 == 2;
        Outcome outcome = formOutcome(effect, readBackBad ? "Programming error!" : "Programming OK!");
        if (readBackBad) {
            outcome.sent = effect.exchange + 1;
        }
        for (int entry = 0; entry < 5; ++entry) {
            const QString box = QStringLiteral("err_stack_%1").arg(entry);
            outcome.boxes[box] = sentinel(box); // clearing never touches the boxes
        }
        return outcome;
    };
    commands.push_back(readStack);
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

const std::pair<valve::link::FtStatus, QString> kStatuses[] = {{ft::IO_ERROR, "FT_IO_ERROR"},
                                                               {ft::INVALID_HANDLE, "FT_INVALID_HANDLE"}};

Effect failsAt(int exchange, QStringList lines = {}, bool requestLost = false) {
    return {Effect::Kind::FailsAt, exchange, std::move(lines), requestLost};
}

// A fault set up just before the request of one exchange goes out.
Fault beforeRequest(QString name, int exchange, Effect effect, std::function<void(Rig&)> setUp) {
    auto reached = std::make_shared<bool>(false);
    return {std::move(name),
            [exchange, setUp, reached](Rig& rig) {
                *reached = false;
                rig.driver.beforeWrite = [exchange, setUp, reached, &rig](int index) {
                    if (index == exchange) {
                        *reached = true;
                        setUp(rig);
                    }
                };
            },
            std::move(effect),
            {},
            [reached](Rig&) { return *reached; }};
}

Fault callFault(QString name, std::vector<CallFault> faults, Effect effect) {
    return {std::move(name),
            [faults](Rig& rig) { rig.driver.faults = faults; },
            std::move(effect),
            {},
            [count = faults.size()](Rig& rig) { return rig.driver.fired() == count; }};
}

// The faults that meet the command before its first request: the adapter
// gone or replaced, the link probe failing.
std::vector<Fault> linkFaults(const Command& command) {
    const bool checks = command.checksLink;
    const Effect writeFails = failsAt(0, {kWriteFailure}, true);
    std::vector<Fault> faults;

    Fault unplugged{"adapter unplugged before the command", [](Rig& rig) { rig.driver.unplug(0); },
                    writeFails};
    Fault replaced{"adapter unplugged and plugged in again before the command", [](Rig& rig) {
                       rig.driver.unplug(0);
                       rig.driver.replug(0);
                   }};
    if (checks) {
        unplugged.checkLines = {kCloseFailed, kNoDevices, kNotReestablished};
        replaced.checkLines = {kCloseFailed, kFoundOne};
    } else {
        replaced.effect = writeFails;
    }
    faults.push_back(unplugged);
    faults.push_back(replaced);

    // The probe fails on a live handle: the link is closed and opened anew. A
    // command that does not check the link never meets these faults.
    const CallFault probe{DriverCall::SetFlowControl, ft::IO_ERROR};
    const QString failed = QStringLiteral("probe fails and ");
    const struct {
        QString name;
        std::vector<CallFault> calls;
        QStringList checkLines;
        bool commandFails;
    } probeFaults[] = {
        {"FT_SetFlowControl probe returns FT_IO_ERROR", {probe}, {kFoundOne}, false},
        {"FT_SetFlowControl probe returns FT_INVALID_HANDLE",
         {{DriverCall::SetFlowControl, ft::INVALID_HANDLE}},
         {kFoundOne},
         false},
        {failed + "FT_OpenEx returns FT_DEVICE_NOT_FOUND",
         {probe, {DriverCall::OpenEx, ft::DEVICE_NOT_FOUND}},
         {kFoundOne, "Could not open USB Device", kNotReestablished},
         true},
        // A step of the reopening fails: the link stays closed, the command
        // still goes out and fails at once.
        {failed + "FT_CreateDeviceInfoList of the reopening returns FT_IO_ERROR",
         {probe, {DriverCall::CreateDeviceInfoList, ft::IO_ERROR}},
         {kNoDevices, kNotReestablished},
         true},
        {failed + "FT_SetBaudRate of the reopening returns FT_IO_ERROR",
         {probe, {DriverCall::SetBaudRate, ft::IO_ERROR}},
         {kFoundOne, "Could not set the Baud Rate through USB", kNotReestablished},
         true},
        {failed + "FT_SetDataCharacteristics of the reopening returns FT_INVALID_HANDLE",
         {probe, {DriverCall::SetDataCharacteristics, ft::INVALID_HANDLE}},
         {kFoundOne, "Could not configure USB connection", kNotReestablished},
         true},
        {failed + "FT_SetFlowControl of the reopening returns FT_IO_ERROR",
         {probe, {DriverCall::SetFlowControl, ft::IO_ERROR}},
         {kFoundOne, "Could not set flow control", kNotReestablished},
         true},
        {failed + "FT_SetTimeouts of the reopening returns FT_IO_ERROR",
         {probe, {DriverCall::SetTimeouts, ft::IO_ERROR}},
         {kFoundOne, "Could not set the time-outs of the USB connection", kNotReestablished},
         true},
        // The close fails and leaves the adapter open here: the search finds
        // no free unit, but the old handle still works.
        {failed + "FT_Close returns FT_IO_ERROR",
         {probe, {DriverCall::Close, ft::IO_ERROR}},
         {kCloseFailed, kNoDevices, kNotReestablished},
         false},
        // The purge status is not looked at: the reopened link is good.
        {failed + "FT_Purge of the reopened link returns FT_IO_ERROR",
         {probe, {DriverCall::Purge, ft::IO_ERROR}},
         {kFoundOne},
         false},
    };
    for (const auto& entry : probeFaults) {
        Fault fault = callFault(entry.name, entry.calls, {});
        if (!checks) {
            fault.tookPlace = [](Rig& rig) { return rig.driver.fired() == 0; };
        } else {
            fault.checkLines = entry.checkLines;
            fault.effect = entry.commandFails ? writeFails : Effect{};
        }
        faults.push_back(fault);
    }
    return faults;
}

// The faults aimed at one exchange: its write, its reply characters, the unit
// and the adapter while it runs.
std::vector<Fault> exchangeFaults(int k, const Step& step) {
    std::vector<Fault> faults;
    const QString at =
        QStringLiteral(" (request %1, %2)").arg(k).arg(QString::fromLatin1(step.line.trimmed()));
    const int length = step.replyLength;

    for (const auto& [status, name] : kStatuses) {
        faults.push_back(callFault("FT_Write returns " + name + at, {{DriverCall::Write, status, k}},
                                   failsAt(k, {kWriteFailure}, true)));
    }
    for (int character = 0; character < length; ++character) {
        const QString where = QStringLiteral(" at reply character %1").arg(character) + at;
        // Status 4 counts as success only together with a byte.
        const struct {
            QString name;
            DriverCall call;
            valve::link::FtStatus status;
            bool keepByte;
        } readFaults[] = {
            {"FT_GetQueueStatus returns FT_IO_ERROR", DriverCall::GetQueueStatus, ft::IO_ERROR, false},
            {"FT_GetQueueStatus returns FT_INVALID_HANDLE", DriverCall::GetQueueStatus, ft::INVALID_HANDLE,
             false},
            {"FT_Read returns FT_IO_ERROR without a byte", DriverCall::Read, ft::IO_ERROR, false},
            {"FT_Read returns FT_INVALID_HANDLE", DriverCall::Read, ft::INVALID_HANDLE, false},
            {"FT_Read returns FT_IO_ERROR with the byte", DriverCall::Read, ft::IO_ERROR, true},
        };
        for (const auto& read : readFaults) {
            faults.push_back(callFault(read.name + where,
                                       {{read.call, read.status, k, character, read.keepByte}},
                                       read.keepByte ? Effect{} : failsAt(k)));
        }
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
    auto unplugged = std::make_shared<bool>(false);
    faults.push_back({"adapter unplugged while waiting for the reply" + at,
                      [k, unplugged](Rig& rig) {
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
                      },
                      failsAt(k),
                      {},
                      [unplugged](Rig&) { return *unplugged; }});
    return faults;
}

std::vector<Fault> faultsFor(const Command& command) {
    std::vector<Fault> faults{{.name = "no fault"}};
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

// Runs one command under one fault; false when the command never ended (the
// rig is then no longer usable).
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

    rig.press(command.name);
    const bool ended = runUntil([&] { return rig.idle(); }, 3000ms);
    EXPECT_TRUE(ended) << label << ": the command did not end";
    QCoreApplication::processEvents(); // whatever a finished command would still do
    // Before disarming, which forgets the driver faults and whether they fired.
    if (ended && fault.tookPlace) {
        EXPECT_TRUE(fault.tookPlace(rig))
            << label << ": the fault did not meet the command where it was aimed";
    }
    rig.driver.disarm();
    if (!ended) {
        return false;
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
