// valvectl through a running panel on the simulated unit, and clients of its socket that misbehave.
#include "demo_panel.h"
#include "panel_rig.h"
#include "remote/messages.h"
#include "remote/panel_server.h"
#include "ui/main_window_controls.h"
#include "ui/panel_remote.h"
#include "valvectl_process.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLineEdit>
#include <QLocalSocket>
#include <QPushButton>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <list>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using valve::testing::PanelRig;
using valve::testing::runUntil;
using valve::testing::Valvectl;

namespace {

// A client that writes what it is told and collects the lines it gets back.
struct RawClient {
    explicit RawClient(const QString& path, const QByteArray& message = {}) {
        QObject::connect(&socket, &QLocalSocket::readyRead, [this] {
            while (socket.canReadLine()) {
                replies << QString::fromUtf8(socket.readLine()).trimmed();
            }
        });
        socket.connectToServer(path);
        socket.write(message);
    }
    bool await(int count) {
        return runUntil([&] { return replies.size() >= count; });
    }

    QLocalSocket socket;
    QStringList replies;
};

// A client that writes short junk lines as fast as the panel takes them and
// never reads a reply.
class SilentWriter {
public:
    explicit SilentWriter(const QString& path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(),
                    std::min(sizeof address.sun_path - 1, std::size_t(name.size())));
        ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    ~SilentWriter() { ::close(fd_); }
    SilentWriter(const SilentWriter&) = delete;
    SilentWriter& operator=(const SilentWriter&) = delete;

    // Writes until the socket takes no more for now; false once the panel has
    // closed the connection.
    bool write() {
        static const QByteArray junk = QByteArray("x\n").repeated(4096);
        for (;;) {
            const ssize_t sent =
                ::send(fd_, junk.constData(), static_cast<std::size_t>(junk.size()), MSG_NOSIGNAL);
            if (sent <= 0) {
                return sent < 0 && errno == EAGAIN;
            }
            written += sent;
        }
    }
    // Writes for as long as the panel takes more, and at most `most` bytes.
    void writeUntilStalled(qint64 most) {
        for (qint64 before = -1; written != before && written < most;) {
            before = written;
            if (!write()) {
                return;
            }
            runUntil([] { return false; }, std::chrono::seconds{1});
            write();
        }
    }

    qint64 written = 0;

private:
    int fd_;
};

class PanelSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(rig.startClean());
        QString error;
        ASSERT_TRUE(rig.panel->acceptValvectl(valvectl.runtime.path(), &error)) << error.toStdString();
    }
    QString routine(const QByteArray& content) { return valvectl.file(QStringLiteral("r.txt"), content); }

    Valvectl valvectl; // its directory holds the socket: it goes after the panel
    PanelRig rig;
};

// The routine fills the panel's table in the user's format, as written, and Run is pressed; the table serves
// one run at a time, and Ctrl-C stops the run in the panel.
TEST_F(PanelSocketTest, ARoutineRunsInThePanelsTableWhichServesOneRunAtATimeUntilCtrlC) {
    QLocale::setDefault(QLocale(QLocale::German));
    const QString path = routine("0,3\n600.5,4.5\n");
    valvectl.start({"--panel", "run", path});
    ASSERT_TRUE(runUntil([&] { return valvectl.process.canReadLine(); }));
    QLocale::setDefault(QLocale::c());
    EXPECT_TRUE(valvectl.process.readLine().startsWith("step 1/2  due 0.000 s"));
    EXPECT_EQ(rig.c().txtTime[1]->text(), "600,5");
    EXPECT_EQ(rig.c().txtPos[1]->text(), "4,5"); // the run rounds it
    EXPECT_EQ(rig.log().first(), "valvectl: run " + path);

    Valvectl second;
    EXPECT_EQ(second.run({"--panel", "status"}).exitCode, 1); // another runtime directory: no panel there
    auto environment = second.process.processEnvironment();
    environment.insert("XDG_RUNTIME_DIR", valvectl.runtime.path());
    second.process.setProcessEnvironment(environment);
    const auto busy = second.run({"--panel", "run", path});
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_TRUE(busy.err.contains("the panel's Timed Events are in use"));

    ::kill(static_cast<pid_t>(valvectl.process.processId()), SIGINT);
    const auto stopped = valvectl.finish(std::chrono::seconds{5});
    EXPECT_EQ(stopped.exitCode, 128 + SIGINT);
    EXPECT_TRUE(stopped.err.contains("the run was stopped after 1 of 2 steps"));
    EXPECT_TRUE(rig.log().contains("User stopped execution"));
    EXPECT_TRUE(rig.c().btnRun->isEnabled());
}

TEST_F(PanelSocketTest, BadClientsGetAnErrorAtMostAndValvectlIsServedAllTheSame) {
    namespace remote = valve::remote;
    const QString path = valvectl.socketPath();
    RawClient silent(path);
    const struct {
        QByteArray sent; // one line
        QString reply;
    } garbled[] = {
        {"hello there", "not a JSON object"},
        {R"({"v":2,"type":"hello"})", "unsupported protocol version"},
        {R"({"v":1,"type":"dance"})", "unknown message type"},
        {R"({"v":1,"type":"command","words":"status"})", "a command needs"},
        {R"({"v":1,"type":"command","words":["move","0"]})", R"(move: \"0\" is not a position)"},
    };
    RawClient garbage(path);
    for (const auto& c : garbled) {
        garbage.socket.write(c.sent + '\n');
    }
    ASSERT_TRUE(garbage.await(std::size(garbled)));
    for (qsizetype i = 0; i < garbage.replies.size(); ++i) {
        EXPECT_TRUE(garbage.replies[i].contains(garbled[i].reply)) << garbage.replies[i].toStdString();
    }

    RawClient huge(path, QByteArray(100 * 1024 * 1024, 'x'));
    ASSERT_TRUE(runUntil([&] { return huge.socket.state() == QLocalSocket::UnconnectedState; }));

    // Gone mid-command: the move still happens, whole.
    RawClient leaving(path, remote::encode(remote::type::kCommand, {{"words", QJsonArray{"move", "9"}}}));
    ASSERT_TRUE(runUntil([&] { return !rig.sent().isEmpty(); }));
    leaving.socket.abort();

    std::list<RawClient> many;
    for (int i = 0; i < 20; ++i) {
        many.emplace_back(path, remote::encode(remote::type::kCommand, {{"words", QJsonArray{"status"}}}));
    }
    for (RawClient& client : many) {
        ASSERT_TRUE(client.await(1));
        EXPECT_TRUE(client.replies[0].contains(R"("position":9)")) << client.replies[0].toStdString();
    }

    rig.panel->remote()->server().setAllowedUser(getuid() + 1);
    RawClient stranger(path, remote::encode(remote::type::kCommand, {{"words", QJsonArray{"home"}}}));
    ASSERT_TRUE(stranger.await(1));
    EXPECT_TRUE(stranger.replies[0].contains("refused"));
    rig.panel->remote()->server().setAllowedUser(getuid());

    // A command from valvectl runs in the panel, through a socket only its user can open.
    EXPECT_EQ(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
    const auto moved = valvectl.run({"--panel", "--json", "move", "5"});
    EXPECT_EQ(moved.exitCode, 0) << moved.err.toStdString();
    EXPECT_EQ(moved.json().value("route"), "panel");
    EXPECT_EQ(moved.json().value("position"), 5);
    EXPECT_EQ(rig.log().filter("Position set to 9").size(), 1);
    EXPECT_EQ(rig.log().filter("valvectl: home").size(), 0);
    EXPECT_EQ(rig.log().filter("valvectl: status").size(), 20);
    EXPECT_EQ(rig.log().mid(rig.log().size() - 2), (QStringList{"valvectl: move 5", "Position set to 5"}));
    EXPECT_EQ(rig.sent().mid(rig.sent().size() - 2), (QList<QByteArray>{"P05\r", "S\r"}));
    EXPECT_TRUE(rig.boxes.texts.isEmpty());
}

// A client past the bound on unread replies (here any reply it leaves) is
// dropped and logged; the next client is served.
TEST_F(PanelSocketTest, AClientThatLeavesRepliesUnreadPastTheBoundIsDroppedAndLogged) {
    rig.panel->remote()->server().setUnsentLimit(0);
    SilentWriter greedy(valvectl.socketPath());
    ASSERT_TRUE(runUntil([&] { return !greedy.write(); }));
    EXPECT_EQ(rig.log()
                  .filter("valvectl: a client left more than 0 bytes of replies unread and was dropped")
                  .size(),
              1);
    EXPECT_EQ(valvectl.run({"--panel", "status"}).exitCode, 0);
}

// The panel stops reading a client that does not read, without dropping it,
// so megabytes sent that way cost it no more than its bound, while it serves
// the others; once the client goes, so does all it held.
TEST(PanelSocketLoad, AClientThatNeverReadsCostsThePanelItsBoundAndNothingOnceGone) {
    Valvectl valvectl;
    valve::testing::DemoPanel panel(valvectl.runtime.path());
    ASSERT_TRUE(panel.start());
    ASSERT_EQ(valvectl.run({"--panel", "status"}).exitCode, 0);
    const long residentBefore = panel.residentKb();
    const qsizetype descriptorsBefore = panel.openDescriptors();
    {
        SilentWriter greedy(panel.socketPath());
        greedy.writeUntilStalled(qint64{4} << 20);
        EXPECT_LT(greedy.written, qint64{2} << 20); // taken before the panel stopped reading
        EXPECT_TRUE(greedy.write()) << "dropped instead of left unread";
        EXPECT_LT(panel.residentKb() - residentBefore,
                  valve::remote::PanelServer::kMaxUnsentBytes / 1024 + 1024);
        const auto served = valvectl.run({"--panel", "--json", "status"});
        EXPECT_EQ(served.json().value("exit_code"), 0) << served.err.toStdString();
    }
    EXPECT_TRUE(runUntil([&] { return panel.openDescriptors() == descriptorsBefore; }));
    EXPECT_LT(panel.residentKb() - residentBefore, 1024);
}

// When no panel serves valvectl it says why: in the panel's own words when one
// refuses, "no running panel" only when nothing listens. With --panel it
// never turns anywhere else.
TEST_F(PanelSocketTest, ValvectlSaysWhyNoPanelServesItInThePanelsOwnWords) {
    namespace remote = valve::remote;
    remote::PanelServer& server = rig.panel->remote()->server();
    const QString nothing = "no running panel: nothing listens in " + valvectl.runtime.path() + "\n";
    std::list<RawClient> crowd;
    const struct {
        const char* what;
        std::function<void()> arrange;
        QStringList arguments;
        QString err; // all of standard error
    } cases[] = {
        {"every place taken",
         [&] {
             while (crowd.size() < std::size_t{remote::PanelServer::kMaxClients}) {
                 crowd.emplace_back(valvectl.socketPath(), remote::encode(remote::type::kHello));
             }
             ASSERT_TRUE(crowd.back().await(1));
         },
         {"--panel", "status"},
         "too many clients; try again\n"},
        {"another user's panel",
         [&] {
             crowd.clear();
             server.setAllowedUser(getuid() + 1);
         },
         {"--panel", "list"},
         "refused: the panel serves its own user only\n"},
        {"a socket left behind",
         [&] {
             server.close();
             QFile left(valvectl.socketPath());
             ASSERT_TRUE(left.open(QIODevice::WriteOnly));
         },
         {"--panel", "status"},
         nothing},
        {"list", [] {}, {"--panel", "list"}, nothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        const auto refused = valvectl.run(c.arguments);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_EQ(refused.err, c.err);
        EXPECT_TRUE(refused.out.isEmpty());
    }
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
    valve::testing::DemoPanel panel(temporary + "/runtime-" +
                                    QString::fromLocal8Bit(getpwuid(getuid())->pw_name));
    auto environment = valvectl.process.processEnvironment();
    for (QProcessEnvironment* each : {&environment, &panel.environment}) {
        each->remove("XDG_RUNTIME_DIR");
        each->insert("TMPDIR", temporary);
    }
    valvectl.process.setProcessEnvironment(environment);
    const auto before = valvectl.run({"--panel", "status"});
    EXPECT_EQ(before.err,
              "no running panel: nothing listens in " + panel.directory + " (XDG_RUNTIME_DIR is not set)\n");
    ASSERT_TRUE(panel.start());
    const auto served = valvectl.run({"--panel", "status"});
    EXPECT_EQ(served.exitCode, 0) << served.err.toStdString();
    EXPECT_FALSE(served.err.contains("QStandardPaths"));
    EXPECT_FALSE(panel.process.readAllStandardError().contains("QStandardPaths"));
}

// Two panels, each on a unit of its own and listening at a socket of its own:
// --device reaches the one that holds that unit, with or without --panel;
// list names both; with no choice valvectl asks for one, and with one panel
// left it asks nothing.
TEST(PanelSocketPanels, EachOfTwoPanelsIsReachedByItsUnit) {
    Valvectl valvectl;
    PanelRig a({"NR Valve A"});
    PanelRig b({"NR Valve B"});
    const QString runtime = valvectl.runtime.path();
    for (PanelRig* rig : {&a, &b}) {
        ASSERT_TRUE(rig->startClean());
        ASSERT_TRUE(rig->panel->acceptValvectl(runtime));
    }
    const QString socketB = runtime + "/valve-panel-2.socket";
    ASSERT_EQ(b.panel->remote()->server().path(), socketB);
    const struct {
        QStringList arguments;
        int exitCode;
        const char* key; // in the JSON output
        QJsonValue value;
    } cases[] = {
        {{"--panel", "--device", "NR Valve B", "move", "4"}, 0, "position", 4},
        {{"--device", "NR Valve A", "status"}, 0, "position", 1},
        {{"--panel", "--device", "NR Valve B", "status"}, 0, "position", 4},
        {{"--panel", "status"},
         2,
         "error",
         "2 panels are running; choose one with --device or --serial:\n"
         "  NR Valve A (at " +
             valvectl.socketPath() +
             ")\n"
             "  NR Valve B (at " +
             socketB + ")"},
        {{"--panel", "--device", "NR Valve C", "status"},
         1,
         "error",
         "no running panel holds \"NR Valve C\"; the running panels hold NR Valve A, NR Valve B"},
        {{"list"},
         0,
         "adapters",
         QJsonArray{QJsonObject{{"description", "NR Valve A"},
                                {"serial", ""},
                                {"open_elsewhere", true},
                                {"held_by_panel", true},
                                {"panel", valvectl.socketPath()}},
                    QJsonObject{{"description", "NR Valve B"},
                                {"serial", ""},
                                {"open_elsewhere", true},
                                {"held_by_panel", true},
                                {"panel", socketB}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const auto finished = valvectl.run(QStringList{"--json"} + c.arguments);
        EXPECT_EQ(finished.exitCode, c.exitCode) << finished.out.toStdString();
        EXPECT_EQ(finished.json().value(QLatin1String(c.key)), c.value);
    }
    EXPECT_EQ(a.sent(), QList<QByteArray>{"S\r"});
    EXPECT_EQ(b.unit().position, 4);

    a.panel->remote()->server().close();
    const auto alone = valvectl.run({"--panel", "status"});
    EXPECT_EQ(alone.exitCode, 0) << alone.err.toStdString();
    EXPECT_EQ(alone.out, "4\n");
}

} // namespace
