// valvectl through a running panel on the simulated unit, clients of its socket that misbehave, and
// clients whose commands interleave.
#include "cli_processes.h"
#include "panel_rig.h"
#include "remote/panel_server.h"
#include "remote/socket_directory.h"
#include "sequencer/run_journal.h"
#include "ui/main_window_controls.h"
#include "ui/panel_remote.h"
#include "ui/routine_table.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QLockFile>
#include <QPushButton>
#include <functional>
#include <gtest/gtest.h>
#include <list>
#include <pwd.h>
#include <unistd.h>

using namespace valve::testing;
using namespace std::chrono_literals;

namespace {

namespace remote = valve::remote;

// A client that writes short junk lines as fast as the panel takes them and never reads a reply.
struct SilentWriter {
    explicit SilentWriter(const QString& path) {
        socket.setReadBufferSize(1);
        socket.connectToServer(path);
    }
    // Writes while the panel takes more, at most `most` bytes; false once the panel has hung up.
    bool write(qint64 most) {
        static const QByteArray junk = QByteArray("x\n").repeated(4096);
        while (connected() && taken() < most &&
               runUntil([&] { return socket.bytesToWrite() == 0 || !connected(); }, 1s)) {
            queued += socket.write(junk);
        }
        return connected();
    }
    [[nodiscard]] bool connected() const { return socket.state() == QLocalSocket::ConnectedState; }
    [[nodiscard]] qint64 taken() const { return queued - socket.bytesToWrite(); }

    QLocalSocket socket;
    qint64 queued = 0;
};

class PanelSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(rig.startClean() && rig.panel->acceptValvectl(valvectl.runtime.path()));
    }

    Valvectl valvectl; // its directory holds the socket: it goes after the panel
    PanelRig rig;
    const QString through = "valvectl: through the running panel, which holds NR Valve\n";
};

// The routine fills the panel's table as written, in the user's format; a panel that goes away mid-run ends
// valvectl with a failure, not a crash.
TEST_F(PanelSocketTest, ARoutineRunsInThePanelsTableWhichServesOneRunAtATimeUntilCtrlCOrThePanelGoes) {
    QLocale::setDefault(QLocale(QLocale::German));
    const QString path = valvectl.file("r.txt", "0,3\n600.5,4.5\n");
    valvectl.start({"--panel", "run", path});
    ASSERT_TRUE(runUntil([&] { return valvectl.process.canReadLine(); }));
    QLocale::setDefault(QLocale::c());
    EXPECT_TRUE(valvectl.process.readLine().startsWith("step 1/2  due 0.000 s"));
    EXPECT_EQ(rig.c().txtTime[1]->text(), "600,5");
    EXPECT_EQ(rig.c().txtPos[1]->text(), "4,5"); // the run rounds it
    EXPECT_EQ(rig.log().first(), "valvectl: run " + path);

    Valvectl second;
    second.setEnvironment("XDG_RUNTIME_DIR", valvectl.runtime.path());
    EXPECT_EQ(second.run({"--panel", "run", path}).whole(),
              "1 /  / " + through + "the panel's Timed Events are in use\n");

    valvectl.signal(SIGINT);
    EXPECT_EQ(valvectl.finish(5s).whole(), QString::number(128 + SIGINT) + " /  / " + through +
                                               "the run was stopped after 1 of 2 steps\n");
    EXPECT_TRUE(rig.log().contains("User stopped execution"));
    EXPECT_TRUE(rig.c().btnRun->isEnabled());

    valvectl.start({"--panel", "run", path});
    ASSERT_TRUE(runUntil([&] { return valvectl.process.canReadLine(); }));
    rig.panel->remote()->server().close();
    const auto orphaned = valvectl.finish(5s);
    EXPECT_EQ(std::pair(orphaned.exitCode, orphaned.err),
              std::pair(1, through + "the panel closed the connection before the command ended\n"));
}

// The panel's reconnection is told on standard error, and kept in the JSON output's log.
TEST_F(PanelSocketTest, AfterAReconnectStandardOutputHoldsTheResultAlone) {
    const QStringList reconnected{"Trying to close USB Port - Failed", "Found 1 Nerra unit through USB"};
    rig.driver.unplug(0);
    rig.driver.replug(0);
    EXPECT_EQ(valvectl.run({"--panel", "status"}).whole(),
              "0 / 1\n / " + through + reconnected.join('\n') + '\n');
    rig.driver.unplug(0);
    rig.driver.replug(0);
    EXPECT_EQ(valvectl.run({"--panel", "--json", "status"}).out.trimmed(),
              R"({"command":"status","exit_code":0,"log":[")" + reconnected.join(R"(",")") +
                  R"("],"output":["1"],"position":1,"route":"panel"})");
}

// "stop" presses Stop for any client of the panel's user, whoever started the run, and says which run it was.
TEST_F(PanelSocketTest, StopEndsThePanelsRunFromAnyClientAndNamesIt) {
    EXPECT_EQ(valvectl.run({"stop"}).whole(), "1 /  / " + through + "no run is under way in the panel\n");

    // A run whose client has gone.
    RawClient gone(valvectl.socketPath(), command("run flush.txt", "0,3\n600,4\n"));
    ASSERT_TRUE(runUntil([&] { return rig.log().contains("Position set to 3"); }));
    gone.socket.abort();
    const auto stopped = valvectl.run({"--json", "stop"});
    const QJsonValue run = stopped.json()["stopped"];
    EXPECT_EQ(std::tuple(stopped.exitCode, run["routine"], run["started_by"], run["steps_moved"]),
              std::tuple(0, QJsonValue("flush.txt"), QJsonValue("valvectl"), QJsonValue(1)))
        << stopped.out.toStdString();
    EXPECT_TRUE(rig.log().contains("User stopped execution"));
    EXPECT_TRUE(rig.c().btnRun->isEnabled());

    // The operator's own run, and one that a failed move left holding the table.
    for (const bool moveFails : {false, true}) {
        valve::ui::fillEventTable(rig.c(), valve::sequencer::parseRoutine("0,5\n600,6\n", "r").steps);
        rig.unit().position = 1;
        rig.driver.unit(0).setPowered(!moveFails);
        rig.c().btnRun->click();
        const char* moved =
            moveFails ? "Error - Could not set position, make sure position is valid." : "Position set to 5";
        ASSERT_TRUE(runUntil([&] { return rig.idle() && rig.log().contains(moved); }));
        rig.driver.unit(0).setPowered(true);
        const auto text = valvectl.run({"stop"});
        EXPECT_EQ(text.exitCode, 0);
        EXPECT_TRUE(text.out.startsWith(
            QStringLiteral("Stopped run %1, started in the panel's window at ").arg(moveFails ? 3 : 2)))
            << text.out.toStdString();
        EXPECT_EQ(text.out.endsWith("its table is free again\n"), moveFails) << text.out.toStdString();
        EXPECT_TRUE(rig.c().btnRun->isEnabled());
    }
}

TEST_F(PanelSocketTest, BadClientsGetAnErrorAtMostAndValvectlIsServedAllTheSame) {
    const QString path = valvectl.socketPath();
    RawClient silent(path);
    const auto words = [](int count) { // "status" and count - 1 words more, as one line
        return command("status" + QString(" x").repeated(count - 1)).chopped(1);
    };
    const QByteArray dance = R"({"v":1,"type":"dance","pad":")"; // padded to the longest message below
    const struct {
        QByteArray sent; // one line
        QString reply;
    } garbled[] = {
        {"hello there", "not a JSON object"},
        {R"({"v":2,"type":"hello"})", "unsupported protocol version"},
        {R"({"v":1,"type":"dance"})", "unknown message type"},
        {R"({"v":1,"type":"command","words":"status"})", "a command needs"},
        {R"({"v":1,"type":"command","words":["move","0"]})", R"(move: \"0\" is not a position)"},
        // The same strict numbers as on the command line: refused with exit code 2.
        {R"({"v":1,"type":"command","words":["move","5\u0000"]})",
         R"(move: \"5\\x00\" is not a position from 1 to 12","exit_code":2)"},
        {words(40), "unexpected argument"},
        {words(41), "a command needs"},
        {dance + QByteArray(64 * 1024 - dance.size() - 2, 'x') + "\"}", "unknown message type"},
    };
    RawClient garbage(path);
    for (const auto& c : garbled) {
        garbage.socket.write(c.sent + '\n');
    }
    ASSERT_TRUE(garbage.await(std::size(garbled)));
    for (qsizetype i = 0; i < garbage.replies.size(); ++i) {
        EXPECT_TRUE(garbage.replies[i].contains(garbled[i].reply)) << garbage.replies[i].toStdString();
    }

    RawClient huge(path, QByteArray(64 * 1024 + 1, 'x'));
    ASSERT_TRUE(runUntil([&] { return huge.socket.state() == QLocalSocket::UnconnectedState; }));

    // Gone mid-command: the move still happens, whole.
    RawClient leaving(path, command("move 9"));
    ASSERT_TRUE(runUntil([&] { return !rig.sent().isEmpty(); }));
    leaving.socket.abort();

    // A command from valvectl runs in the panel, through a socket only its user can open.
    EXPECT_EQ(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
    const auto moved = valvectl.run({"--panel", "--json", "move", "5"});
    EXPECT_EQ(moved.exitCode, 0) << moved.err.toStdString();
    EXPECT_EQ(moved.json().value("route"), "panel");
    EXPECT_EQ(moved.json().value("position"), 5);
    EXPECT_EQ(rig.log().join(", "),
              "valvectl: move 9, Position set to 9, valvectl: move 5, Position set to 5");
    EXPECT_EQ(rig.sent(), (QList<QByteArray>{"P09\r", "S\r", "P05\r", "S\r"}));
    EXPECT_TRUE(rig.boxes.texts.isEmpty());
}

// Two clients of the panel, the window and the adapter take their turns in a row's order; each command
// reports only the lines of its own operations (a run's: the run's), whatever the others log meanwhile.
TEST(PanelSocketLines, EachCommandReportsItsOwnLinesWhateverRunsBesideIt) {
    // First, Second: that client sends its command; BothQueued: the panel has taken both; FirstRunMoved: that
    // run has made its first move; ReadStatus, Move4, Stop: the operator clicks that button.
    enum Step { First, Second, BothQueued, FirstRunMoved, Unplug, Replug, Error66, ReadStatus, Move4, Stop };
    const QString reconnected = "Trying to close USB Port - Failed, Found 1 Nerra unit through USB";
    const QString error66 = "Last error: code 66 - a Valve Positioning Error";
    const struct {
        const char* what;
        std::vector<Step> steps;
        QString first, second; // the clients' commands
        QString firstReport, secondReport;
    } rows[] = {
        // clang-format off
        {"two commands at once", {First, Second}, "move 5", "status",
         "Position set to 5 /  / Position set to 5", "5 /  / "},
        {"both wait for the window's move", {Move4, First, Second}, "status", "move 6",
         "4 /  / ", "Position set to 6 /  / Position set to 6"},
        {"a reconnect is its command's, on standard error", {Unplug, Replug, First, Second}, "status", "status",
         "1 / " + reconnected + " / " + reconnected, "1 /  / "},
        {"an unplug the window noticed is no command's",
         {Unplug, ReadStatus, First, Second, BothQueued, Replug}, "status", "move 2",
         "1 / " + reconnected + " / " + reconnected, "Position set to 2 /  / Position set to 2"},
        {"a named error is logged after its command's turn", {Error66, First, Second}, "error", "move 2",
         "66, " + error66 + " /  / " + error66, "Position set to 2 /  / Position set to 2"},
        {"a command between a run's steps", {First, FirstRunMoved, Second}, "run r.txt", "status",
         " /  / Waited 0 seconds, Position set to 2, Waited 0.2 seconds, Position set to 3", "2 /  / "},
        {"Stop while a command holds the link", {First, FirstRunMoved, Second, Stop}, "run long.txt",
         "move 6", " /  / Waited 0 seconds, Position set to 2, User stopped execution",
         "Position set to 6 /  / Position set to 6"},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Valvectl dir;
        // A unit that takes its time, so that commands wait for each other.
        PanelRig rig({"NR Valve"}, {valve::sim::kByteTime19200, std::chrono::microseconds{200}, 2ms},
                     {500ms, 300ms, 1ms});
        ASSERT_TRUE(rig.startClean() && rig.panel->acceptValvectl(dir.runtime.path()));
        const auto request = [](const QString& line) {
            return command(line, line.endsWith("long.txt") ? "0,2\n600,3\n" : "0,2\n0.2,3\n");
        };
        std::optional<RawClient> first, second;
        const std::function<void()> take[] = {
            [&] { first.emplace(dir.socketPath(), request(row.first)); },
            [&] { second.emplace(dir.socketPath(), request(row.second)); },
            [&] { ASSERT_TRUE(runUntil([&] { return rig.log().filter("valvectl: ").size() == 2; })); },
            [&] { ASSERT_TRUE(runUntil([&] { return rig.log().contains("Position set to 2"); })); },
            [&] { rig.driver.unplug(0); },
            [&] { rig.driver.replug(0); },
            [&] { rig.unit().lastError = valve::sim::UnitState::kPositioningError; },
            [&] { rig.c().cmd_status->click(); },
            [&] { rig.c().pos[3]->click(); },
            [&] {
                ASSERT_TRUE(runUntil([&] { return !rig.sent().isEmpty() && rig.sent().last() == "P06\r"; }));
                rig.c().btnStop->click();
            },
        };
        for (const Step step : row.steps) {
            take[step]();
        }
        EXPECT_EQ(first->report(), row.firstReport);
        EXPECT_EQ(second->report(), row.secondReport);
        ASSERT_TRUE(runUntil([&] { return rig.idle(); }));
    }
}

// A client that asks nothing is dropped at its idle limit, and a refused one that stays at its linger limit;
// none is dropped before. The defaults: 10 s and 2 s. One past the bound on unread replies (here any it
// leaves) is dropped and logged. The next client is served.
TEST_F(PanelSocketTest, ASilentRefusedOrUnreadingClientIsDroppedAtItsLimitAndNotBefore) {
    remote::PanelServer& server = rig.panel->remote()->server();
    const remote::SocketTiming unit;
    EXPECT_EQ(std::pair(unit.idle, unit.refusalLinger), std::pair(10'000ms, 2'000ms));
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refused" : "silent");
        server.setAllowedUser(refused ? getuid() + 1 : getuid());
        server.setTiming(refused ? remote::SocketTiming{10s, 400ms} : remote::SocketTiming{400ms, 10s});
        RawClient client(valvectl.socketPath());
        const auto gone = [&] { return client.socket.state() == QLocalSocket::UnconnectedState; };
        EXPECT_FALSE(runUntil(gone, 300ms)) << "dropped before its limit";
        ASSERT_TRUE(runUntil(gone, 3s));
        ASSERT_EQ(client.replies.size(), 1);
        EXPECT_TRUE(client.replies[0].contains(refused ? "refused" : "no request in time"));
    }
    server.setAllowedUser(getuid());
    server.setUnsentLimit(0);
    SilentWriter greedy(valvectl.socketPath());
    EXPECT_FALSE(greedy.write(qint64{4} << 20));
    const QString dropped = "valvectl: a client left more than 0 bytes of replies unread and was dropped";
    EXPECT_EQ(rig.log().filter(dropped).size(), 1);
    EXPECT_EQ(valvectl.run({"--panel", "status"}).exitCode, 0);
}

// The panel stops reading a client that does not read rather than drop it, and serves the others meanwhile.
TEST(PanelSocketLoad, AClientThatNeverReadsCostsThePanelItsBoundAndNothingOnceGone) {
    Valvectl valvectl;
    DemoPanel panel(valvectl.runtime.path());
    // Counted with no client yet (one gone may still be open) and no journals for the panel to read at start.
    panel.environment.insert("XDG_STATE_HOME", valvectl.runtime.path());
    ASSERT_TRUE(panel.start());
    const qsizetype descriptorsBefore = panel.openDescriptors();
    ASSERT_EQ(valvectl.run({"--panel", "status"}).exitCode, 0);
    {
        SilentWriter greedy(panel.socketPath());
        EXPECT_TRUE(greedy.write(qint64{4} << 20)) << "dropped instead of left unread";
        EXPECT_LT(greedy.taken(), qint64{2} << 20); // before the panel stopped reading
        const auto served = valvectl.run({"--panel", "--json", "status"});
        EXPECT_EQ(served.json().value("exit_code"), 0) << served.err.toStdString();
    }
    EXPECT_TRUE(runUntil([&] { return panel.openDescriptors() == descriptorsBefore; }));
}

// "no running panel" only when nothing listens; with --panel valvectl never turns to the unit itself.
TEST_F(PanelSocketTest, ValvectlSaysWhyNoPanelServesItInThePanelsOwnWords) {
    remote::PanelServer& server = rig.panel->remote()->server();
    const auto refusal = [&](const char* what) { return valvectl.run({"--panel", what}).whole(); };
    {
        std::list<RawClient> crowd;
        const auto fillTo = [&](std::size_t clients) {
            while (crowd.size() < clients) {
                crowd.emplace_back(valvectl.socketPath(), remote::encode(remote::type::kHello));
            }
            ASSERT_TRUE(crowd.back().await(1));
        };
        fillTo(31);
        EXPECT_EQ(valvectl.run({"--panel", "list"}).exitCode, 0) << "the 32nd is served";
        fillTo(32);
        EXPECT_EQ(refusal("status"), "1 /  / too many clients; try again\n");
    }
    server.setAllowedUser(getuid() + 1);
    EXPECT_EQ(refusal("list"), "1 /  / refused: the panel serves its own user only\n");

    server.close();
    QFile left(valvectl.socketPath()); // a socket left behind
    ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    const QString nothing = "1 /  / no running panel: nothing listens in " + valvectl.runtime.path() + "\n";
    EXPECT_EQ(refusal("status"), nothing);
    EXPECT_EQ(refusal("list"), nothing);
    EXPECT_TRUE(rig.sent().isEmpty());
}

// Without XDG_RUNTIME_DIR the panel and valvectl still meet, at the same
// place, and the toolkit has no warning of its own to give.
TEST(PanelSocketPlace, WithoutARuntimeDirectoryThePanelAndValvectlMeetQuietly) {
    if (QFileInfo(QStringLiteral("/run/user/%1").arg(getuid())).isDir()) {
        GTEST_SKIP() << "this user has a session's runtime directory, where a real panel may listen";
    }
    Valvectl valvectl;
    const QString temporary = valvectl.runtime.path();
    DemoPanel panel(temporary + "/runtime-" + QString::fromLocal8Bit(getpwuid(getuid())->pw_name));
    for (QProcessEnvironment* each : {&valvectl.environment, &panel.environment}) {
        each->remove("XDG_RUNTIME_DIR");
        each->insert("TMPDIR", temporary);
    }
    EXPECT_EQ(valvectl.run({"--panel", "status"}).whole(), "1 /  / no running panel: nothing listens in " +
                                                               panel.directory +
                                                               " (XDG_RUNTIME_DIR is not set)\n");
    ASSERT_TRUE(panel.start());
    EXPECT_EQ(valvectl.run({"--panel", "status"}).whole(),
              "0 / 1\n / valvectl: through the running panel, which holds NR Valve Unit A\n");
    EXPECT_FALSE(panel.process.readAllStandardError().contains("QStandardPaths"));
}

// --device reaches the panel that holds that unit, with or without --panel; with one panel left valvectl asks
// nothing. Both journal in their user's one folder, and valvectl journals none of their runs again.
TEST(PanelSocketPanels, EachOfTwoPanelsIsReachedByItsUnitAndJournalsItsOwnRuns) {
    Valvectl valvectl;
    const QString runtime = valvectl.runtime.path();
    valvectl.setEnvironment("XDG_STATE_HOME", runtime);
    valve::sequencer::JournalFolder folderA(runtime + "/valve-panel/runs");
    valve::sequencer::JournalFolder folderB(folderA.dir());
    PanelRig a({"NR Valve A"}, valve::sim::UnitTiming::instant(), {150ms, 10ms, 1ms}, nullptr,
               {.journals = &folderA});
    PanelRig b({"NR Valve B"}, valve::sim::UnitTiming::instant(), {150ms, 10ms, 1ms}, nullptr,
               {.journals = &folderB});
    for (PanelRig* rig : {&a, &b}) {
        ASSERT_TRUE(rig->startClean() && rig->panel->acceptValvectl(runtime));
    }
    const QString socketB = runtime + "/valve-panel-2.socket";
    ASSERT_EQ(b.panel->remote()->server().path(), socketB);
    // clang-format off
    const auto heldBy = [](const char* description, const QString& panel) {
        return QJsonObject{{"description", description}, {"serial", ""}, {"open_elsewhere", true},
                           {"held_by_panel", true}, {"panel", panel}};
    };
    const struct {
        QStringList arguments;
        int exitCode;
        const char* key; // in the JSON output
        QJsonValue value;
    } cases[] = {
        {{"--panel", "--device", "NR Valve B", "move", "4"}, 0, "position", 4},
        {{"--device", "NR Valve A", "status"}, 0, "position", 1},
        {{"--panel", "status"}, 2, "exit_code", 2}, // which one: the choice's own test
        {{"list"}, 0, "adapters",
         QJsonArray{heldBy("NR Valve A", valvectl.socketPath()), heldBy("NR Valve B", socketB)}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const auto finished = valvectl.run(QStringList{"--json"} + c.arguments);
        EXPECT_EQ(finished.exitCode, c.exitCode) << finished.out.toStdString();
        EXPECT_EQ(finished.json().value(QLatin1String(c.key)), c.value);
    }
    EXPECT_EQ(a.sent(), QList<QByteArray>{"S\r"});
    EXPECT_EQ(b.unit().position, 4);

    const QString routine = valvectl.file("r.txt", "0,2\n0.1,3\n");
    for (const char* adapter : {"NR Valve A", "NR Valve B"}) {
        const auto finished = valvectl.run({"--device", adapter, "run", routine});
        ASSERT_EQ(finished.exitCode, 0) << finished.err.toStdString();
    }
    QStringList journaled; // as valvectl lists them
    for (const QJsonValue run : valvectl.run({"runs", "--json"}).json().value("runs").toArray()) {
        journaled << QStringLiteral("%1, %2, %3 after %4 steps")
                         .arg(run["adapter"].toString(), run["origin"].toString(), run["state"].toString())
                         .arg(run["steps_done"].toInt());
    }
    journaled.sort();
    EXPECT_EQ(journaled, QStringList({"NR Valve A, through the panel, completed after 2 steps",
                                      "NR Valve B, through the panel, completed after 2 steps"}));

    a.panel->remote()->server().close();
    EXPECT_EQ(valvectl.run({"--panel", "status"}).whole(),
              "0 / 3\n / valvectl: through the running panel, which holds NR Valve B\n");

    // Sixteen panels may listen in one directory: with fifteen places held by others, the last is taken.
    remote::PanelServer& server = b.panel->remote()->server();
    server.close();
    std::list<QLockFile> held;
    for (int slot = 1; slot <= 15; ++slot) {
        ASSERT_TRUE(held.emplace_back(remote::panelSocketPath(runtime, slot) + ".lock").tryLock(0));
    }
    QString error;
    ASSERT_TRUE(server.listen(runtime, &error)) << error.toStdString();
    EXPECT_EQ(server.path(), runtime + "/valve-panel-16.socket");
    server.close();
    ASSERT_TRUE(held.emplace_back(runtime + "/valve-panel-16.socket.lock").tryLock(0));
    EXPECT_FALSE(server.listen(runtime, &error));
    EXPECT_EQ(error, "16 panels listen in " + runtime + " already");
}

} // namespace
