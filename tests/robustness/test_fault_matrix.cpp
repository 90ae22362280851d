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
#include <numeric>
#include <ranges>

namespace {

using namespace std::chrono_literals;
using valve::link::FtStatus;
using enum valve::sim::DriverCall;
namespace ft = valve::link::ft;

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

    Rig() : BasicPanelRig({"NR Valve"}, valve::sim::UnitTiming::instant(), {kReplyLimit, 10ms, 1ms}) {}

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
        driver.replug(0); // harmless when it is still plugged in
        if (QPointer<valve::ui::CustomConfigWindow> open = form()) {
            open->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        if (!c().btnRun->isEnabled()) {
            c().btnStop->click();
        }
        valve::testing::await(panel->link().check_usb_connection());
        panel->link().discard_input();
        unit() = {.position = 5, .lastError = 66, .revision = 'B', .opMode = 3, .commandMode = 4};
        unit().portPositions = {7, 8, 9};
        std::iota(unit().memory.begin() + 0x10, unit().memory.begin() + 0x20, std::uint8_t{0xC0});
        std::ranges::copy(std::array<std::uint8_t, 5>{44, 55, 66, 77, 88}, unit().memory.begin() + 0x07);
        clearRecords();
    }

    QObject timers;
    bool started = valve::testing::await(panel->start()) && driver.openHere(0);
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
using Step = std::function<void(Rig&)>;

struct Command {
    QString name;
    bool checksLink;
    QString input;    // "control=entry;...": what the operator enters before the click
    QString requests; // separated by blanks, each sent with '\r'
    Shows done;
    Shows garbled = {}; // what differs when a value reply is garbled
    // Logged when a reply is missing, by exchange (the first for the rest).
    QStringList failLines = {"USB Error - could not talk to the device"};
    std::function<void(const Effect&, Shows&)> adjust = {};
    Step prepare = {};
    std::vector<int> aimedAt = {}; // exchanges the per-exchange faults aim at; empty: all

    // The Custom Configuration window's commands report in its status box.
    [[nodiscard]] bool inForm() const { return done.count("stat") > 0; }
    [[nodiscard]] QList<QByteArray> requestLines() const {
        return (requests + '\r').toLatin1().replace(' ', "\r ").split(' ');
    }
};

int replyLength(const QByteArray& request) {
    return QByteArray("SERQD123G").contains(request.at(0)) ? 3 : 1;
}
// A text box shows this before the command: anything else was written by it.
bool isTextBox(const QString& where) {
    return where.startsWith("txt_") || where.startsWith("err_stack_") || where == "position";
}
const auto sentinel = [](const QString& box) { return QStringLiteral("was ") + box; };
const auto hex = [](int value) { return QString::number(value, 16).toUpper().rightJustified(2, '0'); };
QString lines(QStringList list) {
    list.removeAll("");
    return list.join('\n');
}
QString wire(const QList<QByteArray>& requests) {
    return QString::fromLatin1(requests.join(' ')).replace('\r', "\\r");
}

// The operator's entries before the click, typed or picked.
void enter(Rig& rig, const QString& input) {
    for (const QString& entry : input.split(';', Qt::SkipEmptyParts)) {
        const auto [control, text] = std::pair(entry.section('=', 0, 0), entry.section('=', 1));
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
    valve::testing::runUntil([&] { return rig.idle(); }); // the read took its turn at the click
    std::iota(rig.unit().memory.begin() + 0x10, rig.unit().memory.begin() + 0x20, std::uint8_t{0xD0});
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

// A value read with one request into the box named after the button.
Command query(const QString& name, bool checks, const QString& request, const QString& value,
              const QString& garbled) {
    return {name, checks, {}, request, {{"txt_" + name.mid(4), value}}, {{"txt_" + name.mid(4), garbled}}};
}
// "P" acknowledged, then "S" must report the position.
Command moveTo(const QString& name, int target) {
    return Command(
        name, true, {}, "P" + hex(target) + " S",
        {{"position", QString::number(target)}, {"log", QStringLiteral("Position set to %1").arg(target)}},
        {{"position", sentinel("position")}, {"log", "Position was not achieved"}},
        {"Error - Could not set position, make sure position is valid.",
         "Error - Could not recieve the position status."});
}

std::vector<Command> allCommands() {
    std::vector<Command> all{
        query("cmd_status", true, "S", "5", "0"),
        query("cmd_fw_rev", true, "R", "Rev.B Nerra", QStringLiteral("Rev.%1 Nerra").arg(QChar())),
        query("cmd_op_mode", true, "Q", "3", "0"),
        query("cmd_cmd_mode", false, "D", "Inverted BCD", "Error"),
        query("cmd_clock", false, "G20", " 20 MHz", " 0 MHz"),
        // A garbled reply reads as code 0, which changes nothing.
        Command("cmd_error", true, {}, "E",
                {{"txt_error", "66"}, {"log", "Last error: code 66 - a Valve Positioning Error"}},
                {{"txt_error", sentinel("txt_error")}, {"log", ""}}),
        // Mode 0 empties the box and says so in a message box.
        Command("btnReadControl", true, {}, "D", {{"txt_control", "Inverted BCD"}},
                {{"txt_control", ""}, {"boxes", "Invalid Command Mode"}},
                {"USB Error - could not read control method."}),
        Command("homing", false, {}, "M S", {{"position", "1"}}, {{"position", "0"}}),
        Command("set_baud", false, "Combo_Baud_Rate=57600", "X04", {{"log", "Baud rate changed"}}),
        Command("set_cmd_mode", false, "Combo_Cmd_Mode=Dual Pulse", "F05",
                {{"log", "Command mode changed to 5"}}),
        Command("set_command", true, "lstControl=Pulse", "F02",
                {{"log", "Control method changed to Pulse. Cycle power to complete change."}}),
        Command("set_i2c_address", true, "txt_set_i2c_address=5a", "N5A",
                {{"log", "I2C address changed to 5a"}}),
        // The link check comes before the confirmation, which is answered OK.
        Command("set_op_mode", true, "txt_set_op_mode=7", "O07",
                {{"log", "Op Mode changed to 7. Cycle power to complete configuration change."},
                 {"boxes",
                  "Warning - Changing the Operational Mode to an invalid number can cause your unit to stop "
                  "operating. Are you sure you want to change the Op. Mode?"}}),
        Command("set_clock", false, "Combo_Clock=20 MHz", "I20 W14 G20", {{"log", "Clock speed changed!"}},
                {{"log", "Programming error!"}}),
        Command("data_write", false, {}, "I12 WA5 G12",
                {{"stat", "Programming OK!"}, {"cell_3", "A5"}, {"mark_3", "clear"}},
                {{"stat", "Programming error!"}, {"mark_3", "marked"}}, {}, {}, editThirdCell),
        Command("data_read", false, {}, "G10 G11 G12 G13 G14 G15 G16 G17 G18 G19 G1A G1B G1C G1D G1E G1F",
                {{"stat", "Read OK!"}}, {}, {}, cellsUpToTheFault, readCellsThenChangeThem, {0, 7, 15}),
        Command("read_err_stack", false, {}, "G07 G08 G09 G0A G0B", {{"stat", "Read OK!"}}, {}, {},
                stackUpToTheFault, {}, {0, 2, 4}),
        Command("clear_err_stack", false, {}, "I07 W00 G07 I08 W00 G08 I09 W00 G09 I0A W00 G0A I0B W00 G0B",
                {{"stat", "Programming OK!"}}, {{"stat", "Programming error!"}}, {}, clearStopsAtABadReadBack,
                {}, {0, 1, 2, 6, 7, 8, 12, 13, 14}),
    };
    for (const int port : {0, 1, 2}) {
        const QString a = QChar('a' + port);
        all.push_back(
            query("cmd_pos_" + a, false, QString::number(port + 1), QString::number(7 + port), "0"));
        all.push_back(Command("set_pos_" + a, false, "txt_set_pos_" + a + "=12", a.toUpper() + "0C",
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

// A driver call that fails at the probe, at an exchange's write, or at one reply character's poll or read.
struct Planted {
    valve::sim::DriverCall call;
    FtStatus status;
    int character = 0;
    bool keepByte = false; // FT_Read only: the bytes are read, `status` comes with them

    [[nodiscard]] QString name() const {
        return valve::sim::driverCallName(call) + QStringLiteral(" returns status %1").arg(status);
    }
    void plant(Rig& rig) const {
        if (keepByte) {
            rig.driver.readReturnsStatus(status, character + 1);
        } else {
            rig.driver.failCall(call, status, 1, character);
        }
    }
    [[nodiscard]] bool met(Rig& rig) const {
        return std::ranges::any_of(rig.driver.callLog(), [&](const auto& logged) {
            return logged.call == call && logged.status == status;
        });
    }
};

struct Fault {
    QString name;
    int exchange = -1; // `setUp` runs just before this exchange's request goes out; -1: before the click
    Step setUp = [](Rig&) {};
    Effect effect = {};
    std::function<bool(Rig&)> evidence = {}; // the fault took effect
    QStringList checkLines = {};             // logged by the link check before the command's own lines
};

std::vector<Fault> faultsFor(const Command& command) {
    const bool checks = command.checksLink;
    const Effect writeFails{0, -1, true};
    const auto ifChecks = [checks](const QStringList& lines) { return checks ? lines : QStringList{}; };
    std::vector<Fault> faults(1, {"no fault"});
    faults.emplace_back(
        "adapter unplugged before the command", -1, [](Rig& rig) { rig.driver.unplug(0); }, writeFails,
        nullptr, ifChecks({kCloseFailed, kNoDevices, kNotReestablished}));
    faults.emplace_back(
        "adapter unplugged and plugged in again before the command", -1,
        [](Rig& rig) {
            rig.driver.unplug(0);
            rig.driver.replug(0);
        },
        checks ? Effect{} : writeFails, nullptr, ifChecks({kCloseFailed, kFoundOne}));
    // Driver calls failing at the link check on a live handle (a command that skips it never meets them): the
    // probe, perhaps then a reopening step. To a command any configuration step failing is a reopening that
    // fails, as the open does; its own line is the link's concern (UsbLinkConfigure).
    const auto atProbe = [&](const std::vector<Planted>& calls, const QStringList& lines, bool commandFails) {
        faults.emplace_back(
            calls.size() == 1 ? calls[0].name() + " at the probe" : "the probe fails and " + calls[1].name(),
            -1, [calls](Rig& rig) { std::ranges::for_each(calls, [&](const Planted& p) { p.plant(rig); }); },
            checks && commandFails ? writeFails : Effect{},
            [calls, checks](Rig& rig) {
                return std::ranges::all_of(calls, [&](const Planted& p) { return p.met(rig) == checks; });
            },
            ifChecks(lines));
    };
    const Planted probe{SetFlowControl, ft::IO_ERROR};
    atProbe({probe}, {kFoundOne}, false);
    atProbe({{SetFlowControl, ft::INVALID_HANDLE}}, {kFoundOne}, false);
    atProbe({probe, {OpenEx, ft::DEVICE_NOT_FOUND}},
            {kFoundOne, "Could not open USB Device", kNotReestablished}, true);
    atProbe({probe, {CreateDeviceInfoList, ft::IO_ERROR}}, {kNoDevices, kNotReestablished}, true);
    // The close fails and leaves the adapter open here: the old handle still works.
    atProbe({probe, {Close, ft::IO_ERROR}}, {kCloseFailed, kNoDevices, kNotReestablished}, false);
    // The purge status is not looked at: the reopened link is good.
    atProbe({probe, {Purge, ft::IO_ERROR}}, {kFoundOne}, false);

    const QList<QByteArray> requests = command.requestLines();
    for (int k = 0; k < requests.size(); ++k) {
        if (!command.aimedAt.empty() && std::ranges::count(command.aimedAt, k) == 0) {
            continue;
        }
        const QString at =
            QStringLiteral(" (request %1, %2)").arg(k).arg(QString::fromLatin1(requests.at(k).trimmed()));
        const auto call = [&](const Planted& p, Effect effect, const QString& where) {
            faults.emplace_back(
                p.name() + where + at, k, [p](Rig& rig) { p.plant(rig); }, effect,
                [p](Rig& rig) { return p.met(rig); });
        };
        const auto unit = [&](const QString& name, Effect effect, const Step& setUp) {
            faults.emplace_back(name + at, k, setUp, effect);
        };
        for (const FtStatus status : {ft::IO_ERROR, ft::INVALID_HANDLE}) {
            call({Write, status}, {k, -1, true}, "");
        }
        for (int c = 0; c < replyLength(requests.at(k)); ++c) {
            const QString where = QStringLiteral(" at reply character %1").arg(c);
            for (const FtStatus status : {ft::IO_ERROR, ft::INVALID_HANDLE}) {
                call({GetQueueStatus, status, c}, Effect{k}, where);
                call({Read, status, c}, Effect{k}, " without a byte" + where);
            }
            // The one the command gets over: status 4 counts as success together with a byte.
            call({Read, ft::IO_ERROR, c, true}, {}, " with the byte" + where);
            unit(QStringLiteral("reply cut after %1 characters").arg(c), Effect{k},
                 [c](Rig& rig) { rig.sim().truncateReplies(c, 1); });
        }
        unit("unit switched off", Effect{k}, [](Rig& rig) { rig.sim().setPowered(false); });
        unit("garbled reply \"ZZ\\r\"", {-1, k}, [](Rig& rig) { rig.sim().scriptReply("ZZ\r"); });
        // The reply is held back; the adapter goes while the command waits for it.
        faults.emplace_back(
            "adapter unplugged while waiting for the reply" + at, k,
            [](Rig& rig) {
                rig.sim().delayReplies(40ms, 1);
                QTimer::singleShot(5ms, &rig.timers, [&rig] { rig.driver.unplug(0); });
            },
            Effect{k}, [](Rig& rig) { return !rig.driver.pluggedIn(0); });
    }
    return faults;
}

// Any acknowledgement counts; a missing reply leaves the boxes as they were.
Shows expect(const Command& command, const Fault& fault) {
    const Effect& e = fault.effect;
    const QList<QByteArray> requests = command.requestLines();
    Shows shows = e.garbageAt >= 0 && replyLength(requests.at(e.garbageAt)) > 1 ? command.garbled : Shows{};
    shows.insert(command.done.begin(), command.done.end());
    shows.insert({{"log", ""}, {"boxes", ""}});
    shows["wire"] = wire(e.fails() ? requests.first(e.failsAt + (e.writeFailed ? 0 : 1)) : requests);
    if (e.fails()) {
        // An edit still waits to be written; the form says what went wrong in its status box.
        for (auto& [where, text] : shows) {
            text = isTextBox(where)            ? sentinel(where)
                   : where.startsWith("mark_") ? "marked"
                   : where == "stat"           ? "Communication error"
                                               : text;
        }
        const QString failLine =
            command.inForm() ? "" : command.failLines.value(e.failsAt, command.failLines[0]);
        shows["log"] = lines({e.writeFailed ? "USB Error - could not write to device" : "", failLine});
    }
    if (command.adjust) {
        command.adjust(e, shows);
    }
    shows["log"] = lines(fault.checkLines + QStringList{shows["log"]});
    return shows;
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
    const Shows expected = expect(command, fault);
    for (const QString& box : expected | std::views::keys | std::views::filter(isTextBox)) {
        rig.child<QLineEdit>(box)->setText(sentinel(box));
    }
    rig.clearRecords();
    rig.driver.writes = 0;
    rig.driver.beforeWrite = [&rig, fault](int index) {
        if (index == fault.exchange) {
            fault.setUp(rig);
        }
    };
    rig.driver.beforeWrite(-1); // a fault aimed at no exchange is set up before the click

    rig.child<QPushButton>(command.name)->click();
    if (!valve::testing::runUntil([&] { return rig.idle(); }, 3000ms)) {
        ADD_FAILURE() << "the command did not end";
        return false;
    }
    QCoreApplication::processEvents(); // whatever a finished command would still do
    EXPECT_TRUE(rig.driver.writes > fault.exchange && (!fault.evidence || fault.evidence(rig)))
        << "the fault did not meet the command where it was aimed";
    Shows shown = expected;
    std::ranges::for_each(shown, [&](auto& entry) { entry.second = seen(rig, entry.first); });
    EXPECT_EQ(shown, expected);
    EXPECT_FALSE(rig.driver.wire(0).interleaved()) << "a request overlapped an owed reply";
    return true;
}

class FaultMatrix : public ::testing::TestWithParam<Command> {};

TEST_P(FaultMatrix, EveryFaultEndsAsTheCommandPromises) {
    auto rig = std::make_unique<Rig>();
    ASSERT_TRUE(rig->started) << "the panel did not connect";
    for (const Fault& fault : faultsFor(GetParam())) {
        if (!runCase(*rig, GetParam(), fault)) {
            rig = std::make_unique<Rig>(); // a hung command spoils the rig for the cases after it
            ASSERT_TRUE(rig->started);
        }
    }
    // Nothing reaches the unit or the log once the last case has been checked.
    const auto quiet = std::pair(rig->sent(), rig->log());
    valve::testing::runUntil([] { return false; }, 2 * Rig::kReplyLimit);
    EXPECT_EQ(std::pair(rig->sent(), rig->log()), quiet);
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultMatrix, ::testing::ValuesIn(allCommands()),
                         [](const auto& info) { return info.param.name.toStdString(); });

} // namespace
