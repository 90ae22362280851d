// Every command of the panel against every way the link can fail: what each
// shows, logs, asks and sends when it completes, meets a garbled reply or none.

#include "panel_rig.h"
#include "sequencer/sequencer.h"
#include "ui/sequencer_wiring.h"

#include <QComboBox>
#include <QListWidget>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace std::chrono_literals;
using valve::link::FtStatus;
using valve::sim::DriverCall;
using enum valve::sim::DriverCall;
using valve::testing::runUntil;
namespace ft = valve::link::ft;

const QString kTalkFailure = QStringLiteral("USB Error - could not talk to the device");
const QString kCloseFailed = QStringLiteral("Trying to close USB Port - Failed");
const QString kNoDevices = QStringLiteral("Error - Could not find any Nerra Devices through USB");
const QString kFoundOne = QStringLiteral("Found 1 Nerra unit through USB");
const QString kNotReestablished = QStringLiteral("Could not reestablish connection");

// The simulated driver with a hook before every write, counted from arming.
struct HookedDriver : valve::sim::SimulatedDriver {
    std::function<void(int)> beforeWrite = [](int) {};
    int writes = 0;

    FtStatus write(valve::link::FtHandle handle, const void* buffer, std::uint32_t size,
                   std::uint32_t& written) override {
        beforeWrite(writes++);
        return SimulatedDriver::write(handle, buffer, size, written);
    }
};

struct Rig : valve::testing::BasicPanelRig<HookedDriver> {
    static constexpr auto kReplyLimit = 60ms;

    Rig() : BasicPanelRig({"NR Valve"}, valve::sim::UnitTiming::instant(), {kReplyLimit, 10ms, 1ms}) {
        started = valve::testing::await(panel->start()) && driver.openHere(0);
    }

    bool idle() {
        return BasicPanelRig::idle() &&
               !window().findChild<valve::ui::SequencerWiring*>()->sequencer().runUnderWay();
    }

    // Link, unit and windows back to a known state; the error stack holds 44..88.
    void reset() {
        driver.beforeWrite = [](int) {};
        driver.clearFaults();
        sim().clearFaults();
        sim().setPowered(true);
        if (!driver.pluggedIn(0)) {
            driver.replug(0);
        }
        if (QPointer<valve::ui::CustomConfigWindow> open = form()) {
            open->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        if (!c().btnRun->isEnabled()) {
            c().btnStop->click();
        }
        valve::testing::await(panel->link().check_usb_connection());
        panel->link().discard_input();
        unit() = {.position = 5,
                  .lastError = 66,
                  .revision = 'B',
                  .opMode = 3,
                  .commandMode = 4,
                  .portPositions = {7, 8, 9}};
        for (std::size_t i = 0; i < 16; ++i) {
            unit().memory[0x10 + i] = static_cast<std::uint8_t>(0xC0 + i);
            unit().memory[0x07 + i % 5] = static_cast<std::uint8_t>(44 + 11 * (i % 5));
        }
        clearRecords();
    }

    bool started = false;
    QObject timers;
};

// How a fault shows itself: a reply missing (or its request not written) or garbled at one exchange.
struct Effect {
    int failsAt = -1;
    int garbageAt = -1;
    bool writeFailed = false;
    [[nodiscard]] bool fails() const { return failsAt >= 0; }
};

// Where: a text box, "cell_N"/"mark_N" (grid text; edited), "log", "boxes", "run" (enabled), "wire".
using Shows = std::map<QString, QString>;
using Adjust = std::function<void(const Effect&, Shows&)>;

struct Command {
    QString name;
    bool checksLink;
    QString input;    // "control=entry;...": what the operator enters before the click
    QString requests; // separated by blanks, each sent with '\r'
    Shows done;
    Shows garbled;         // what differs when a value reply is garbled
    QStringList failLines; // logged when a reply is missing, by exchange (the first for the rest)
    Adjust adjust;
    std::function<void(Rig&)> prepare;
    std::vector<int> aimedAt; // exchanges the per-exchange faults aim at; empty: all

    // The Custom Configuration window's commands report in its status box.
    [[nodiscard]] bool inForm() const { return done.count("stat") > 0; }
};

QList<QByteArray> requestsOf(const Command& command) {
    QList<QByteArray> lines;
    for (const QString& request : command.requests.split(' ')) {
        lines << request.toLatin1() + '\r';
    }
    return lines;
}
int replyLength(const QByteArray& request) {
    return QByteArray("SERQD123G").contains(request.at(0)) ? 3 : 1;
}
// A text box shows this before the command: anything else was written by it.
bool isTextBox(const QString& where) {
    return where.startsWith("txt_") || where.startsWith("err_stack_") || where == "position";
}
QString sentinel(const QString& box) {
    return QStringLiteral("was ") + box;
}
QString hex(int value) {
    return QString::number(value, 16).toUpper().rightJustified(2, '0');
}
QString lines(QStringList list) {
    list.removeAll("");
    return list.join('\n');
}
QString wire(const QList<QByteArray>& requests) {
    return QString::fromLatin1(requests.join(' ')).replace('\r', "\\r");
}

// Any acknowledgement counts; a missing reply leaves the boxes as they were.
Shows expect(const Command& command, const Effect& e) {
    const QList<QByteArray> requests = requestsOf(command);
    Shows shows = command.done;
    if (e.garbageAt >= 0 && replyLength(requests.at(e.garbageAt)) > 1) {
        for (const auto& [where, text] : command.garbled) {
            shows[where] = text;
        }
    }
    shows["wire"] = wire(e.fails() ? requests.first(e.failsAt + (e.writeFailed ? 0 : 1)) : requests);
    if (e.fails()) {
        for (auto& [where, text] : shows) { // and an edit still waits to be written
            text = isTextBox(where) ? sentinel(where) : where.startsWith("mark_") ? "marked" : text;
        }
        const QString failLine =
            command.inForm() ? QString() : command.failLines.value(e.failsAt, command.failLines[0]);
        shows["log"] = lines({e.writeFailed ? "USB Error - could not write to device" : "", failLine});
        if (command.inForm()) {
            shows["stat"] = "Communication error";
        }
    }
    if (command.adjust) {
        command.adjust(e, shows);
    }
    shows.try_emplace("log");
    shows.try_emplace("boxes");
    return shows;
}

// The operator's entries before the click, typed or picked.
void enter(Rig& rig, const QString& input) {
    for (const QString& entry : input.split(';', Qt::SkipEmptyParts)) {
        const QString control = entry.section('=', 0, 0);
        const QString text = entry.section('=', 1);
        if (auto* box = rig.child<QLineEdit>(control)) {
            box->setText(text);
        } else if (auto* list = rig.child<QComboBox>(control)) {
            list->setCurrentIndex(list->findText(text));
            emit list->activated(list->currentIndex());
        } else if (auto* items = rig.child<QListWidget>(control)) {
            items->setCurrentItem(items->findItems(text, Qt::MatchExactly).value(0));
        }
    }
}

// The operator stores 0xA5 for address 0x12 in the grid.
void editThirdCell(Rig& rig) {
    valve::testing::clickCell(rig.child<QTableWidget>("MSFlexGrid1"), 1, 3);
    valve::testing::typeKeys(rig.child<QLineEdit>("Text1"), "a5");
    valve::testing::pressKey(rig.child<QLineEdit>("Text1"), Qt::Key_Return);
}
// The cells hold C0..CF from an earlier read; the unit now holds D0..DF.
void readCellsThenChangeThem(Rig& rig) {
    rig.child<QPushButton>("data_read")->click();
    runUntil([&] { return rig.idle(); }); // the read took its turn at the click
    for (std::size_t i = 0; i < 16; ++i) {
        rig.unit().memory[0x10 + i] = static_cast<std::uint8_t>(0xD0 + i);
    }
}
void cellsUpToTheFault(const Effect& e, Shows& s) {
    for (int k = 0; k < 16; ++k) {
        s[QStringLiteral("cell_%1").arg(k + 1)] =
            e.garbageAt == k ? "ZZ" : hex((e.fails() && k >= e.failsAt ? 0xC0 : 0xD0) + k);
    }
}
// An entry is emptied when its request goes out.
void stackUpToTheFault(const Effect& e, Shows& s) {
    for (int i = 0; i < 5; ++i) {
        const QString box = QStringLiteral("err_stack_%1").arg(i);
        s[box] = e.failsAt == i               ? ""
                 : i > e.failsAt && e.fails() ? sentinel(box)
                 : e.garbageAt == i           ? "0"
                                              : QString::number(44 + 11 * i);
    }
}
// A clear never touches the boxes; a read-back other than "00" stops it.
void clearStopsAtABadReadBack(const Effect& e, Shows& s) {
    for (const QString box : {"err_stack_0", "err_stack_1", "err_stack_2", "err_stack_3", "err_stack_4"}) {
        s[box] = sentinel(box);
    }
    s["wire"] = e.garbageAt % 3 == 2 ? s["wire"].section(' ', 0, e.garbageAt) : s["wire"];
}
// A timed run of one step. After a failed move the table keeps its running look until Stop.
void runOfOneMove(const Effect& /*e*/, Shows& s) {
    s["log"].prepend("Waited 0 seconds\n");
    const bool moved = s["position"] == "4";
    s["run"] = moved ? "on" : "off";
    s["boxes"] = moved ? "" : "Could not achieve Position 4, in step 0";
}

Command row(const QString& name, bool checks, const QString& input, const QString& requests,
            const Shows& done, const Shows& garbled = {}, const QStringList& failLines = {kTalkFailure},
            const Adjust& adjust = {}, const std::function<void(Rig&)>& prepare = {},
            const std::vector<int>& aimedAt = {}) {
    return {name, checks, input, requests, done, garbled, failLines, adjust, prepare, aimedAt};
}
// A value read with one request into the box named after the button.
Command query(const QString& name, bool checks, const QString& request, const QString& value,
              const QString& garbled) {
    const QString box = "txt_" + name.mid(4);
    return row(name, checks, {}, request, {{box, value}}, {{box, garbled}});
}
// "P" acknowledged, then "S" must report the position.
Command moveTo(const QString& name, int target) {
    return row(
        name, true, {}, "P" + hex(target) + " S",
        {{"position", QString::number(target)}, {"log", QStringLiteral("Position set to %1").arg(target)}},
        {{"position", sentinel("position")}, {"log", "Position was not achieved"}},
        {"Error - Could not set position, make sure position is valid.",
         "Error - Could not recieve the position status."});
}

std::vector<Command> allCommands() {
    QStringList cellReads;
    QStringList stackReads;
    QStringList stackClears;
    for (int i = 0; i < 16; ++i) {
        cellReads << "G" + hex(0x10 + i);
    }
    for (int i = 0; i < 5; ++i) {
        stackReads << "G" + hex(7 + i);
        stackClears.append({"I" + hex(7 + i), "W00", "G" + hex(7 + i)});
    }
    std::vector<Command> all{
        query("cmd_status", true, "S", "5", "0"),
        query("cmd_fw_rev", true, "R", "Rev.B Nerra", QStringLiteral("Rev.%1 Nerra").arg(QChar())),
        query("cmd_op_mode", true, "Q", "3", "0"),
        query("cmd_cmd_mode", false, "D", "Inverted BCD", "Error"),
        query("cmd_clock", false, "G20", " 20 MHz", " 0 MHz"),
        // A garbled reply reads as code 0, which changes nothing.
        row("cmd_error", true, {}, "E",
            {{"txt_error", "66"}, {"log", "Last error: code 66 - a Valve Positioning Error"}},
            {{"txt_error", sentinel("txt_error")}, {"log", ""}}),
        // Mode 0 empties the box and says so in a message box.
        row("btnReadControl", true, {}, "D", {{"txt_control", "Inverted BCD"}},
            {{"txt_control", ""}, {"boxes", "Invalid Command Mode"}},
            {"USB Error - could not read control method."}),
        row("homing", false, {}, "M S", {{"position", "1"}}, {{"position", "0"}}),
        row("set_baud", false, "Combo_Baud_Rate=57600", "X04", {{"log", "Baud rate changed"}}),
        row("set_cmd_mode", false, "Combo_Cmd_Mode=Dual Pulse", "F05",
            {{"log", "Command mode changed to 5"}}),
        row("set_command", true, "lstControl=Pulse", "F02",
            {{"log", "Control method changed to Pulse. Cycle power to complete change."}}),
        row("set_i2c_address", true, "txt_set_i2c_address=5a", "N5A", {{"log", "I2C address changed to 5a"}}),
        // The link check comes before the confirmation, which is answered OK.
        row("set_op_mode", true, "txt_set_op_mode=7", "O07",
            {{"log", "Op Mode changed to 7. Cycle power to complete configuration change."},
             {"boxes",
              "Warning - Changing the Operational Mode to an invalid number can cause your unit to stop "
              "operating. Are you sure you want to change the Op. Mode?"}}),
        row("set_clock", false, "Combo_Clock=20 MHz", "I20 W14 G20", {{"log", "Clock speed changed!"}},
            {{"log", "Programming error!"}}),
        row("data_write", false, {}, "I12 WA5 G12",
            {{"stat", "Programming OK!"}, {"cell_3", "A5"}, {"mark_3", "clear"}},
            {{"stat", "Programming error!"}, {"mark_3", "marked"}}, {}, {}, editThirdCell),
        row("data_read", false, {}, cellReads.join(' '), {{"stat", "Read OK!"}}, {}, {}, cellsUpToTheFault,
            readCellsThenChangeThem, {0, 7, 15}),
        row("read_err_stack", false, {}, stackReads.join(' '), {{"stat", "Read OK!"}}, {}, {},
            stackUpToTheFault, {}, {0, 2, 4}),
        row("clear_err_stack", false, {}, stackClears.join(' '), {{"stat", "Programming OK!"}},
            {{"stat", "Programming error!"}}, {}, clearStopsAtABadReadBack, {},
            {0, 1, 2, 6, 7, 8, 12, 13, 14}),
    };
    for (const int port : {0, 1, 2}) {
        const QString a = QChar('a' + port);
        all.push_back(
            query("cmd_pos_" + a, false, QString::number(port + 1), QString::number(7 + port), "0"));
        all.push_back(row("set_pos_" + a, false, "txt_set_pos_" + a + "=12", a.toUpper() + "0C",
                          {{"log", "Port " + a.toUpper() + " changed"}}));
    }
    for (int target = 1; target <= 12; ++target) {
        all.push_back(moveTo(QStringLiteral("pos_%1").arg(target - 1), target));
    }
    all.push_back(moveTo("btnRun", 4));
    all.back().adjust = runOfOneMove;
    all.back().input = "txtTime_0=0;txtPos_0=4";
    return all;
}

struct Fault {
    QString name;
    std::function<void(Rig&)> arm = [](Rig&) {};
    Effect effect = {};
    QStringList checkLines = {};              // logged by the link check before the command's own lines
    std::function<bool(Rig&)> tookPlace = {}; // the fault met the command where it was aimed
};

// A driver call that fails at an exchange's write, or at one reply character's poll or read.
struct Planted {
    DriverCall call;
    FtStatus status;
    int character = 0;
    bool keepByte = false; // FT_Read only: the bytes are read, `status` comes with them
};

QString nameOf(const Planted& p) {
    return valve::sim::driverCallName(p.call) + QStringLiteral(" returns status %1").arg(p.status);
}
long logged(Rig& rig, const Planted& p) {
    const auto& calls = rig.driver.callLog();
    return std::count_if(calls.begin(), calls.end(),
                         [&](const auto& call) { return call.call == p.call && call.status == p.status; });
}

// Driver calls failing at the link check, which a command that skips it never meets.
Fault probeFault(std::vector<Planted> calls, bool checks, Effect effect, QStringList checkLines) {
    const auto arm = [calls](Rig& rig) {
        for (const Planted& p : calls) {
            rig.driver.failCall(p.call, p.status);
        }
    };
    const auto met = [calls, checks](Rig& rig) {
        return std::all_of(calls.begin(), calls.end(),
                           [&](const Planted& p) { return (logged(rig, p) > 0) == checks; });
    };
    return {calls.size() == 1 ? nameOf(calls[0]) + " at the probe"
                              : "the probe fails and " + nameOf(calls[1]),
            arm, checks ? effect : Effect{}, checks ? std::move(checkLines) : QStringList{}, met};
}

// A fault set up just before an exchange's request goes out; `evidence` shows it took effect.
Fault beforeRequest(
    QString name, int exchange, Effect effect, const std::function<void(Rig&)>& setUp,
    const std::function<bool(Rig&)>& evidence = [](Rig&) { return true; }) {
    auto reached = std::make_shared<bool>(false);
    const auto arm = [=](Rig& rig) {
        *reached = false;
        rig.driver.beforeWrite = [=, &rig](int index) {
            if (index == exchange) {
                *reached = true;
                setUp(rig);
            }
        };
    };
    return {std::move(name), arm, effect, {}, [=](Rig& rig) { return *reached && evidence(rig); }};
}

Fault callFault(int exchange, Planted p, Effect effect, const QString& at) {
    return beforeRequest(
        nameOf(p) + at, exchange, effect,
        [p](Rig& rig) {
            p.keepByte ? rig.driver.readReturnsStatus(p.status, p.character + 1)
                       : rig.driver.failCall(p.call, p.status, 1, p.character);
        },
        [p](Rig& rig) { return logged(rig, p) > 0; });
}

// The probe fails on a live handle, perhaps then a step of the reopening.
struct ProbeFault {
    std::vector<Planted> calls;
    QStringList checkLines;
    bool commandFails = true;
};
std::vector<Planted> reopening(DriverCall step, FtStatus status) {
    return {{SetFlowControl, ft::IO_ERROR}, {step, status}};
}
// Each configuration step's own failure line is the link's concern (UsbLinkConfigure); to a command
// any of them is a reopening that fails, as the open does here.
const ProbeFault kProbeFaults[] = {
    {{{SetFlowControl, ft::IO_ERROR}}, {kFoundOne}, false},
    {{{SetFlowControl, ft::INVALID_HANDLE}}, {kFoundOne}, false},
    {reopening(OpenEx, ft::DEVICE_NOT_FOUND), {kFoundOne, "Could not open USB Device", kNotReestablished}},
    {reopening(CreateDeviceInfoList, ft::IO_ERROR), {kNoDevices, kNotReestablished}},
    // The close fails and leaves the adapter open here: the old handle still works.
    {reopening(Close, ft::IO_ERROR), {kCloseFailed, kNoDevices, kNotReestablished}, false},
    // The purge status is not looked at: the reopened link is good.
    {reopening(Purge, ft::IO_ERROR), {kFoundOne}, false},
};

std::vector<Fault> faultsFor(const Command& command) {
    const bool checks = command.checksLink;
    const Effect writeFails{0, -1, true};
    const auto ifChecks = [checks](const QStringList& lines) { return checks ? lines : QStringList{}; };
    std::vector<Fault> faults{
        {"no fault"},
        {"adapter unplugged before the command", [](Rig& rig) { rig.driver.unplug(0); }, writeFails,
         ifChecks({kCloseFailed, kNoDevices, kNotReestablished})},
        {"adapter unplugged and plugged in again before the command",
         [](Rig& rig) {
             rig.driver.unplug(0);
             rig.driver.replug(0);
         },
         checks ? Effect{} : writeFails, ifChecks({kCloseFailed, kFoundOne})},
    };
    for (const auto& [calls, lines, commandFails] : kProbeFaults) {
        faults.push_back(probeFault(calls, checks, commandFails ? writeFails : Effect{}, lines));
    }

    const QList<QByteArray> requests = requestsOf(command);
    for (int k = 0; k < requests.size(); ++k) {
        if (!command.aimedAt.empty() && std::ranges::count(command.aimedAt, k) == 0) {
            continue;
        }
        const int length = replyLength(requests.at(k));
        const QString at =
            QStringLiteral(" (request %1, %2)").arg(k).arg(QString::fromLatin1(requests.at(k).trimmed()));
        for (const FtStatus status : {ft::IO_ERROR, ft::INVALID_HANDLE}) {
            faults.push_back(callFault(k, {Write, status}, {k, -1, true}, at));
        }
        for (int c = 0; c < length; ++c) {
            const QString where = QStringLiteral(" at reply character %1").arg(c) + at;
            for (const FtStatus status : {ft::IO_ERROR, ft::INVALID_HANDLE}) {
                faults.push_back(callFault(k, {GetQueueStatus, status, c}, Effect{k}, where));
                faults.push_back(callFault(k, {Read, status, c}, Effect{k}, " without a byte" + where));
            }
            // The one the command gets over: status 4 counts as success together with a byte.
            faults.push_back(callFault(k, {Read, ft::IO_ERROR, c, true}, {}, " with the byte" + where));
        }
        faults.push_back(beforeRequest("unit switched off" + at, k, Effect{k},
                                       [](Rig& rig) { rig.sim().setPowered(false); }));
        for (std::size_t keep = 0; keep < static_cast<std::size_t>(length); ++keep) {
            faults.push_back(beforeRequest(QStringLiteral("reply cut after %1 characters").arg(keep) + at, k,
                                           Effect{k},
                                           [keep](Rig& rig) { rig.sim().truncateReplies(keep, 1); }));
        }
        faults.push_back(beforeRequest("garbled reply \"ZZ\\r\"" + at, k, {-1, k},
                                       [](Rig& rig) { rig.sim().scriptReply("ZZ\r"); }));
        // The reply is held back; the adapter goes while the command waits for it.
        faults.push_back(beforeRequest(
            "adapter unplugged while waiting for the reply" + at, k, Effect{k},
            [](Rig& rig) {
                rig.sim().delayReplies(40ms, 1);
                QTimer::singleShot(5ms, &rig.timers, [&rig] { rig.driver.unplug(0); });
            },
            [](Rig& rig) { return !rig.driver.pluggedIn(0); }));
    }
    return faults;
}

// What shows at `where` now, in the words of Shows.
QString seen(Rig& rig, const QString& where) {
    if (where == "log" || where == "boxes") {
        return (where == "log" ? rig.log() : rig.boxes.texts).join('\n');
    }
    if (where == "run" || where == "wire") {
        return where == "wire" ? wire(rig.sent()) : rig.c().btnRun->isEnabled() ? "on" : "off";
    }
    if (!where.startsWith("cell_") && !where.startsWith("mark_")) {
        return rig.child<QLineEdit>(where)->text();
    }
    const int column = where.mid(5).toInt();
    const valve::config::MemoryCell& cell = rig.form()->memory().cell(column);
    const QString grid = rig.child<QTableWidget>("MSFlexGrid1")->item(1, column)->text();
    return where.startsWith("mark_") ? (cell.changed ? "marked" : "clear")
                                     : (grid == cell.text ? grid : "grid " + grid + ", cell " + cell.text);
}

// False when the command never ended.
bool runCase(Rig& rig, const Command& command, const Fault& fault) {
    SCOPED_TRACE((command.name + " / " + fault.name).toStdString());

    rig.reset();
    if (command.inForm()) {
        rig.c().Command1->click();
    }
    if (command.prepare) {
        command.prepare(rig);
    }
    enter(rig, command.input);
    Shows expected = expect(command, fault.effect);
    expected["log"] = lines(fault.checkLines + QStringList{expected["log"]});
    for (const auto& [where, text] : expected) {
        if (auto* box = isTextBox(where) ? rig.child<QLineEdit>(where) : nullptr) {
            box->setText(sentinel(where));
        }
    }
    rig.clearRecords();
    rig.driver.writes = 0;
    fault.arm(rig);

    rig.child<QPushButton>(command.name)->click();
    const bool ended = runUntil([&] { return rig.idle(); }, 3000ms);
    EXPECT_TRUE(ended) << "the command did not end";
    QCoreApplication::processEvents(); // whatever a finished command would still do
    EXPECT_TRUE(!ended || !fault.tookPlace || fault.tookPlace(rig))
        << "the fault did not meet the command where it was aimed";
    if (!ended) {
        return false;
    }

    Shows shown;
    for (const auto& [where, text] : expected) {
        shown[where] = seen(rig, where);
    }
    EXPECT_EQ(shown, expected);
    EXPECT_FALSE(rig.driver.wire(0).interleaved()) << "a request overlapped an owed reply";
    return true;
}

class FaultMatrix : public ::testing::TestWithParam<Command> {};

TEST_P(FaultMatrix, EveryFaultEndsAsTheCommandPromises) {
    const Command& command = GetParam();
    auto rig = std::make_unique<Rig>();
    ASSERT_TRUE(rig->started) << "the panel did not connect";
    for (const Fault& fault : faultsFor(command)) {
        if (!runCase(*rig, command, fault)) {
            rig = std::make_unique<Rig>(); // a hung command spoils the rig for the cases after it
            ASSERT_TRUE(rig->started);
        }
    }
    // Nothing reaches the unit or the log once the last case has been checked.
    const qsizetype sent = rig->sent().size();
    const QStringList logged = rig->log();
    runUntil([] { return false; }, 2 * Rig::kReplyLimit);
    EXPECT_EQ(rig->sent().size(), sent);
    EXPECT_EQ(rig->log(), logged);
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultMatrix, ::testing::ValuesIn(allCommands()),
                         [](const auto& info) { return info.param.name.toStdString(); });

} // namespace
