// The demo panel run as a user runs it, ended by signals as a log-out, a kill or Ctrl-C ends it.
#include "cli/signal_watch.h"
#include "cli_processes.h"
#include "sequencer/sequencer.h"

#include <gtest/gtest.h>
#include <optional>

using valve::testing::runUntil;

namespace {

// valve-panel-demo in its own runtime directory, keeping its log there.
struct SignalledPanel : valve::testing::DemoPanel {
    explicit SignalledPanel(const QStringList& arguments) {
        launch(QStringList{"--log-file", directory + "/kept.log"} + arguments);
    }
    [[nodiscard]] QString keptLog() const {
        QFile file(directory + "/kept.log");
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // Stopped by SIGSTOP, as /proc shows it.
    [[nodiscard]] bool stopped() const {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
        return stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") T ");
    }
};

// The first signal closes the panel as its close button does: a run under way is stopped with a line
// that says why, the kept log has that line, the socket is removed, the exit code is 0, also before the
// window was shown. Signals that come together end it at once at the second.
TEST(PanelSignals, TheFirstClosesThePanelInOrderAndASecondEndsItAtOnce) {
    const struct {
        const char* name;
        QStringList arguments;
        bool routine;
        std::vector<int> sent; // together, the panel held still meanwhile
    } cases[] = {
        {"SIGTERM during a routine", {}, true, {SIGTERM}},
        {"SIGHUP while idle", {}, false, {SIGHUP}},
        {"SIGINT with the chooser up", {"--units", "2"}, false, {SIGINT}},
        {"SIGINT and SIGTERM during a routine", {}, true, {SIGINT, SIGTERM}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SignalledPanel panel(c.arguments);
        ASSERT_TRUE(runUntil([&] { return panel.keptLog().contains("Found "); }, std::chrono::seconds{20}));
        // A routine whose first step goes at once and whose second is far off.
        std::optional<valve::testing::RawClient> client;
        if (c.routine) {
            client.emplace(panel.socketPath(), valve::testing::command("run r.txt", "0,3\n600,4\n"));
            ASSERT_TRUE(client->await(1) && client->replies[0].contains(R"("type":"step")"));
        }
        ::kill(panel.pid(), SIGSTOP);
        ASSERT_TRUE(runUntil([&] { return panel.stopped(); }));
        for (const int signal : c.sent) {
            ::kill(panel.pid(), signal);
        }
        ::kill(panel.pid(), SIGCONT);
        ASSERT_TRUE(panel.process.waitForFinished(10000));

        const QString stopLine = valve::sequencer::stoppedByClosing(valve::cli::SignalWatch::name(c.sent[0]));
        if (c.sent.size() == 1) {
            EXPECT_EQ(std::pair(panel.process.exitStatus(), panel.process.exitCode()),
                      std::pair(QProcess::NormalExit, 0));
            EXPECT_EQ(panel.keptLog().contains(stopLine), c.routine) << panel.keptLog().toStdString();
            EXPECT_FALSE(QFile::exists(panel.socketPath()));
        } else {
            EXPECT_EQ(panel.process.exitStatus(), QProcess::CrashExit) << "ended by the second signal";
        }
    }
}

} // namespace
