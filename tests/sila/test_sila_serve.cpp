// valvectl serve as a lab computer runs it: refused starts, and an orderly end on SIGTERM.
#include "cli_processes.h"
#include "sila_client.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <csignal>
#include <gtest/gtest.h>

namespace valve::testing {
namespace {

TEST(ValvectlServe, RefusedStartsExitWithCodeTwoAndSayWhyAndAServerEndsInOrderOnSigterm) {
    QTemporaryDir config;
    Valvectl valvectl;
    valvectl.setEnvironment(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    const QString inUse = QStringLiteral("127.0.0.1:%1").arg(taken.serverPort());
    for (const auto& [arguments, reason] : std::vector<std::pair<QStringList, const char*>>{
             {{"--sila", "0.0.0.0:0"}, "--sila-client-ca"}, // the other refusals: SilaListen
             {{"--sila", inUse, "--sila-insecure"}, "cannot listen"},
             {{}, "serve needs --sila"}}) {
        const auto finished = valvectl.run(QStringList{"serve", "--sim"} + arguments);
        EXPECT_EQ(finished.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(finished.err.contains(QLatin1String(reason))) << finished.err.toStdString();
    }

    valvectl.start({"serve", "--sim", "--sila", "127.0.0.1:0", "--sila-insecure"});
    QString err;
    const QRegularExpression listening(QStringLiteral("SiLA 2 server on 127\\.0\\.0\\.1:(\\d+)"));
    const auto readErr = [&] { return err += QString::fromUtf8(valvectl.process.readAllStandardError()); };
    ASSERT_TRUE(runUntil([&] { return listening.match(readErr()).hasMatch(); }, std::chrono::seconds{20}))
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
