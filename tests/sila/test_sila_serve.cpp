// valvectl serve as a lab computer runs it: refused starts, and an orderly end on SIGTERM.
#include "cli_processes.h"
#include "sila_client.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <csignal>
#include <gtest/gtest.h>

namespace valve::testing {
namespace {

TEST(ValvectlServe, RefusedStartsExitWithCodeTwoAndSayWhy) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    const QString inUse = QStringLiteral("127.0.0.1:%1").arg(taken.serverPort());
    struct Case {
        QStringList arguments;
        const char* reason;
    };
    const std::vector<Case> cases{
        {{"--sila", "0.0.0.0:0"}, "--sila-client-ca"}, // the other refusals: SilaListen
        {{"--sila", inUse, "--sila-insecure"}, "cannot listen"},
        {{}, "serve needs --sila"},
    };
    for (const Case& each : cases) {
        QTemporaryDir config;
        Valvectl valvectl;
        valvectl.setEnvironment(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        const auto finished = valvectl.run(QStringList{"serve", "--sim"} + each.arguments);
        EXPECT_EQ(finished.exitCode, 2) << each.arguments.join(' ').toStdString();
        EXPECT_TRUE(finished.err.contains(QLatin1String(each.reason))) << finished.err.toStdString();
    }
}

TEST(ValvectlServe, ServesUntilSigtermThenClosesTheAdapter) {
    QTemporaryDir config;
    Valvectl valvectl;
    valvectl.setEnvironment(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    valvectl.start({"serve", "--sim", "--sila", "127.0.0.1:0", "--sila-insecure"});
    QString err;
    const QRegularExpression listening(QStringLiteral("SiLA 2 server on 127\\.0\\.0\\.1:(\\d+)"));
    ASSERT_TRUE(runUntil(
        [&] {
            err += QString::fromUtf8(valvectl.process.readAllStandardError());
            return listening.match(err).hasMatch();
        },
        std::chrono::seconds{20}))
        << err.toStdString();
    SilaClient client(listening.match(err).captured(1).toInt());
    const auto status = unary(client.valve, &vc::ValveControl::Stub::ReadStatus);
    ASSERT_TRUE(status.first.ok()) << status.first.error_message();
    EXPECT_EQ(status.second.position().value(), 1);
    ::kill(static_cast<pid_t>(valvectl.process.processId()), SIGTERM);
    const auto finished = valvectl.finish();
    EXPECT_EQ(finished.exitCode, 0);
    EXPECT_TRUE((err + finished.err).contains(QStringLiteral("the adapter is closed")))
        << finished.err.toStdString();
}

} // namespace
} // namespace valve::testing
