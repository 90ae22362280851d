// valvectl through a running panel on the simulated unit, and clients of its socket that misbehave.
#include "demo_panel.h"
#include "panel_rig.h"
#include "remote/messages.h"
#include "remote/panel_server.h"
#include "ui/main_window_controls.h"
#include "ui/panel_remote.h"
#include "valvectl_process.h"

#include <QFile>
#include <QJsonArray>
#include <QLineEdit>
#include <QLocalSocket>
#include <QPushButton>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <list>
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

// The panel stops reading a client that does not read, so megabytes sent that
// way cost it no more than its bound, while it serves the others; once the
// client goes, so does all it held.
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
        EXPECT_LT(panel.residentKb() - residentBefore,
                  valve::remote::PanelServer::kMaxUnsentBytes / 1024 + 1024);
        const auto served = valvectl.run({"--panel", "--json", "status"});
        EXPECT_EQ(served.json().value("exit_code"), 0) << served.err.toStdString();
    }
    EXPECT_TRUE(runUntil([&] { return panel.openDescriptors() == descriptorsBefore; }));
    EXPECT_LT(panel.residentKb() - residentBefore, 1024);
}

} // namespace
