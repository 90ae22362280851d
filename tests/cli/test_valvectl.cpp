// valvectl as a script runs it, on its own simulated unit.
#include "cli_processes.h"

#include <gtest/gtest.h>

using valve::testing::runUntil;
using valve::testing::Valvectl;

namespace {

class ValvectlTest : public ::testing::Test {
protected:
    Valvectl valvectl;
};

TEST_F(ValvectlTest, EachGroupOfSubcommandsReportsAsThePanelDoes) {
    const struct {
        const char* arguments;
        const char* shown; // the first line on standard output
        const char* key;   // a value in the JSON output
        QJsonValue value;
    } cases[] = {
        // clang-format off
        {"home", "Homed: position 1", "position", 1},
        {"firmware", "Rev.C Nerra", "firmware", "Rev.C Nerra"},
        {"ports", "A 1", "port_c", 3},
        {"clock", "20 MHz", "clock_mhz", 20},
        {"move 7", "Position set to 7", "position", 7},
        {"set clock 4", "Clock speed changed!", "clock_mhz", 4},
        {"set command-mode dual-pulse", "Control method changed to Dual Pulse. Cycle power to complete change.",
         "command_mode", "Dual Pulse"},
        {"set ports 3 - 012", "Port A changed", "port_c", 12},
        {"set op-mode 7 --yes", "Op Mode changed to 7. Cycle power to complete configuration change.",
         "op_mode", 7},
        {"set i2c 0x5a", "I2C address changed to 5A", "i2c_address", "5A"},
        {"memory read 1F 10", "1F 00", "memory", QJsonObject{{"1F", "00"}, {"10", "00"}}},
        {"memory write 13=a5 1f=00", "Programming OK!", "log", QJsonArray{}},
        {"errors read", "07 0", "error_stack", QJsonArray{0, 0, 0, 0, 0}},
        {"list", "NR Valve Unit A\tserial NRV0000\tfree", "adapters",
         QJsonArray{QJsonObject{{"description", "NR Valve Unit A"}, {"serial", "NRV0000"},
                                {"open_elsewhere", false}, {"held_by_panel", false}}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const auto finished = valvectl.run(QStringList{"--sim", "--json"} + QString(c.arguments).split(' '));
        const QJsonObject json = finished.json();
        EXPECT_EQ(
            std::tuple(finished.exitCode, json["exit_code"], json["route"], json["output"][0], json[c.key]),
            std::tuple(0, QJsonValue(0), QJsonValue("direct"), QJsonValue(c.shown), c.value))
            << finished.err.toStdString();
    }
}

TEST_F(ValvectlTest, BadInputIsRefusedNamingItBeforeTheUnitIsTouched) {
    // What the routine reader refuses is its own test; here a file that cannot be read.
    const QString longArgument(100'000, QLatin1Char('7'));
    const struct {
        QStringList arguments;
        QString message;
    } cases[] = {
        {{}, "no subcommand given"},
        {{"fly"}, "unknown subcommand \"fly\""},
        {{"--fly", "status"}, "Unknown option 'fly'"},
        {{"status", "now"}, "status: unexpected argument \"now\""},
        {{"move"}, "move: missing argument (usage: valvectl move N)"},
        {{"move", "13"}, "move: \"13\" is not a position from 1 to 12"},
        // Numbers are digits only, nothing else.
        {{"move", " 5"}, "move: \" 5\" is not a position"},
        {{"move", "+5"}, "move: \"+5\" is not a position"},
        {{"move", "5\t"}, "move: \"5\\x09\" is not a position"},
        {{"move", "4294967301"}, "move: \"4294967301\" is not a position"}, // 5 once wrapped to 32 bits
        {{"set", "ports", "3", "-", "12.9"}, "set ports: port C: \"12.9\" is not a number from 0 to 255"},
        {{"set", "op-mode", "1e1", "--yes"}, "set op-mode: \"1e1\" is not a number from 0 to 255"},
        {{"set", "command-mode", " 3"}, "set command-mode: \" 3\" is not a command mode"},
        {{"move", longArgument}, "move: \"" + longArgument.left(40) + "...\" is not a position"},
        {{"set", "speed", "4"},
         "set: expected one of clock, baud, command-mode, ports, op-mode, i2c, found \"speed\""},
        {{"set", "clock", "5"}, "set clock: \"5\" is not 4 or 20"},
        {{"set", "ports", "1", "256", "-"}, "set ports: port B: \"256\" is not a number from 0 to 255"},
        {{"set", "ports", "7abc", "1", "1"}, "set ports: port A: \"7abc\" is not a number from 0 to 255"},
        {{"set", "op-mode", "3"}, "add --yes to go ahead"},
        {{"set", "i2c", "1G"}, "set i2c: \"1G\" is not a hexadecimal number from 00 to FF"},
        {{"memory", "read", "20"}, "memory read: \"20\" is not a memory address from 10 to 1F"},
        {{"memory", "write", "13=5"}, "memory write: \"13=5\": the value must be two hexadecimal digits"},
        {{"memory", "write", "13=05", "13=06"}, "memory write: address 13 is given twice"},
        {{"--panel", "status"}, "--sim and --panel exclude each other"},
        {{"run", valvectl.runtime.filePath("missing.txt")}, "missing.txt: no such file"},
        {{"run", valvectl.runtime.path()}, ": a folder, not a routine file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        // A silent unit with a long limit: had anything been sent, the command would wait for it.
        const auto finished = valvectl.run(
            QStringList{"--sim", "--sim-fault", "silent", "--sim-reply-limit", "20000"} + c.arguments);
        EXPECT_EQ(std::pair(finished.exitCode, finished.out), std::pair(2, QString()));
        EXPECT_TRUE(finished.err.contains(c.message)) << finished.err.toStdString();
        EXPECT_LT(finished.err.size(), 400);
    }
    EXPECT_EQ(valvectl.run({"--sim", "--json", "move", "0"}).out.trimmed(),
              R"({"command":"move","error":"move: \"0\" is not a position from 1 to 12","exit_code":2,)"
              R"("log":[],"output":[],"route":"direct"})");
}

TEST_F(ValvectlTest, AFailingUnitGivesThePanelsLineAndExitCodeOneAndNoAdapterAnEmptyListAndAHint) {
    const auto silent = valvectl.run({"--sim", "--sim-fault", "silent", "--sim-reply-limit", "50", "status"});
    EXPECT_EQ(silent.whole(), "1 /  / USB Error - could not talk to the device\n");
    // The adapter goes away 20 ms into a read of sixteen cells (each takes 4 ms on the line).
    const auto unplugged =
        valvectl.run({"--sim", "--json", "--sim-fault", "unplug", "memory", "read"}).json();
    EXPECT_EQ(unplugged.value("exit_code"), 1);
    EXPECT_TRUE(unplugged.value("error").toString().startsWith("Communication error (at address 1"));

    EXPECT_EQ(valvectl.run({"--sim", "--sim-fault", "absent", "list"}).whole(),
              "0 /  / no FTDI adapter found. Check that it is plugged in (lsusb lists it, most often as "
              "0403:6001) and that you may open it: without the udev rule 60-valve-panel-ftdi.rules, or "
              "membership in group plugdev, its USB device is closed to you.\n");
    const auto json = valvectl.run({"--sim", "--sim-fault", "absent", "--json", "list"}).json();
    EXPECT_EQ(json.value("adapters"), QJsonArray());
    EXPECT_FALSE(json.contains("error"));
}

TEST_F(ValvectlTest, ARoutineRunsOnScheduleOneLinePerStepUntilCtrlCStopsItAfterItsCurrentStep) {
    valvectl.start(
        {"--sim", "--json", "run", valvectl.file("r.txt", "# moves\n0,3\n0.25,6.5 # rounds to 6\n600,2\n")});
    QList<QJsonObject> lines;
    ASSERT_TRUE(runUntil([&] {
        while (valvectl.process.canReadLine()) {
            lines << QJsonDocument::fromJson(valvectl.process.readLine()).object();
        }
        return lines.size() == 2;
    }));
    valvectl.signal(SIGINT);
    const auto stopped = valvectl.finish(std::chrono::seconds{5});
    EXPECT_EQ(stopped.exitCode, 128 + SIGINT);
    EXPECT_EQ(stopped.json().value("error"), "the run was stopped after 2 of 3 steps");
    const QByteArray expected[] = {R"({"due_s":0,"position":3,"reached":true,"step":1,"steps":3})",
                                   R"({"due_s":0.25,"position":6,"reached":true,"step":2,"steps":3})"};
    for (int step = 0; step < 2; ++step) {
        lines[step].remove("actual_s");
        const double late = lines[step].take("deviation_ms").toDouble();
        EXPECT_TRUE(late > -1.0 && late < 50.0) << late; // never early; late by the time it takes to wake up
        EXPECT_EQ(QJsonDocument(lines[step]).toJson(QJsonDocument::Compact), expected[step]);
    }
}

} // namespace
