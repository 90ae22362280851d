#pragma once

// The SiLA 2 server of the demo panel (--fast: the unit's 0.2 ms to answer,
// no line or move time), from a client in this process, each figure beside
// its reference from the same run: ReadStatus through SiLA 2 beside the same
// three requests (status, error, firmware) through the local socket; the time
// from the unit confirming a move to 50 subscribers of Position having the new
// value; idle wake-ups with the server on and one subscription open beside
// the panel with the server off and gRPC's own server alone; resident size
// over 20,000 calls once warm.
#include "SiLAFramework.pb.h"
#include "ValveControl.grpc.pb.h"
#include "bench_support.h"
#include "panel_process.h"
#include "remote/messages.h"

#include <QDateTime>
#include <QJsonArray>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <atomic>
#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>
#include <thread>

namespace valve::bench {

class SilaBench {
public:
    static constexpr int kRoundTrips = 300;
    static constexpr int kSubscribers = 50;
    static constexpr int kIdleSeconds = 5;
    // Warm: the events log (three lines a call) and the traffic record have
    // reached their bounds, so what grows after is the server's own.
    static constexpr int kWarmCalls = 12'000;
    static constexpr int kSoakCalls = 20'000;

    // False (with a note on stderr) when a panel did not come up or a call failed.
    bool report(Report& report) {
        const auto idleOff = idleWakeUps(false);
        if (!panel_.start({QStringLiteral("--fast"), QStringLiteral("--sila"), QStringLiteral("127.0.0.1:0"),
                           QStringLiteral("--sila-insecure"), QStringLiteral("--log-file"), logFile()}) ||
            !findPort()) {
            return false;
        }
        grpc::ChannelArguments own;
        channel_ = grpc::CreateCustomChannel(target(), grpc::InsecureChannelCredentials(), own);
        valve_ = sila2::org::valvepanel::valves::valvecontrol::v1::ValveControl::NewStub(channel_);
        return roundTrips(report) && fanOut(report) && idle(report, idleOff) && soak(report);
    }

private:
    using Status = sila2::org::valvepanel::valves::valvecontrol::v1::ReadStatus_Responses;

    [[nodiscard]] QString logFile() const { return panel_.file(QStringLiteral("events.log")); }
    [[nodiscard]] std::string target() const { return "127.0.0.1:" + std::to_string(port_); }

    bool findPort() {
        const QRegularExpression line(QStringLiteral("SiLA 2 server on 127\\.0\\.0\\.1:(\\d+)"));
        for (int i = 0; i < 200 && port_ == 0; ++i) {
            QFile log(logFile());
            if (log.open(QIODevice::ReadOnly)) {
                const auto match = line.match(QString::fromUtf8(log.readAll()));
                port_ = match.hasMatch() ? match.captured(1).toInt() : 0;
            }
            QThread::msleep(50);
        }
        if (port_ == 0) {
            std::fprintf(stderr, "sila: the demo did not say where its SiLA 2 server listens\n");
        }
        return port_ != 0;
    }

    bool readStatus() {
        grpc::ClientContext context;
        Status response;
        return valve_->ReadStatus(&context, {}, &response).ok();
    }

    bool roundTrips(Report& report) {
        std::vector<double> sila;
        std::vector<double> socket;
        QLocalSocket local;
        local.connectToServer(panel_.socketPath());
        if (!local.waitForConnected(5'000)) {
            std::fprintf(stderr, "sila: no connection to the demo's socket\n");
            return false;
        }
        for (int i = 0; i < kRoundTrips; ++i) {
            auto started = std::chrono::steady_clock::now();
            if (!readStatus()) {
                std::fprintf(stderr, "sila: ReadStatus failed\n");
                return false;
            }
            sila.push_back(msSince(started));
            started = std::chrono::steady_clock::now();
            for (const char* word : {"status", "error", "firmware"}) {
                local.write(remote::encode(remote::type::kCommand,
                                           {{QStringLiteral("words"), QJsonArray{QLatin1String(word)}}}));
                while (!local.canReadLine() && local.waitForReadyRead(5'000)) {
                }
                local.readLine();
            }
            socket.push_back(msSince(started));
        }
        report.add("sila_read_status_median_ms", median(sila),
                   "ms, ReadStatus through SiLA 2, median of 300");
        report.add("sila_read_status_p99_ms", percentile(sila, 0.99), "ms, its 99th percentile");
        report.add("sila_socket_status_median_ms", median(socket),
                   "ms (reference: status, error and firmware through the local socket, median)");
        report.add("sila_socket_status_p99_ms", percentile(socket, 0.99),
                   "ms (reference: its 99th percentile)");
        report.add("sila_read_status_over_socket_ms", median(sila) - median(socket),
                   "ms, the SiLA 2 median beyond the socket's");
        return true;
    }

    // Each subscriber on a connection of its own, as 50 orchestrators would be.
    bool fanOut(Report& report) {
        using namespace sila2::org::valvepanel::valves::valvecontrol::v1;
        std::atomic<int> ready{0};
        std::vector<std::int64_t> seenAt(kSubscribers, 0);
        std::vector<std::unique_ptr<grpc::ClientContext>> contexts;
        std::vector<std::thread> threads;
        for (int i = 0; i < kSubscribers; ++i) {
            contexts.push_back(std::make_unique<grpc::ClientContext>());
            threads.emplace_back([&, i] {
                grpc::ChannelArguments apart;
                apart.SetInt("valve.bench.subscriber", i); // no connection shared with the others
                auto stub = ValveControl::NewStub(
                    grpc::CreateCustomChannel(target(), grpc::InsecureChannelCredentials(), apart));
                auto reader = stub->Subscribe_Position(contexts[i].get(), {});
                Subscribe_Position_Responses message;
                ++ready;
                while (reader->Read(&message)) {
                    if (message.position().value() == kTarget) {
                        seenAt[i] = QDateTime::currentMSecsSinceEpoch();
                        break;
                    }
                }
            });
        }
        while (ready < kSubscribers) {
            QThread::msleep(10);
        }
        QThread::msleep(300); // every subscription has its first value
        grpc::ClientContext context;
        MoveTo_Parameters move;
        move.mutable_position()->set_value(kTarget);
        sila2::org::silastandard::CommandConfirmation confirmation;
        const bool started = valve_->MoveTo(&context, move, &confirmation).ok();
        for (std::size_t i = 0; i < threads.size(); ++i) {
            if (started) {
                for (int wait = 0; wait < 500 && seenAt[i] == 0; ++wait) {
                    QThread::msleep(10);
                }
            }
            contexts[i]->TryCancel();
            threads[i].join();
        }
        const std::int64_t confirmed = confirmedAt();
        const std::int64_t last = *std::max_element(seenAt.begin(), seenAt.end());
        if (!started || confirmed == 0 || std::find(seenAt.begin(), seenAt.end(), 0) != seenAt.end()) {
            std::fprintf(stderr, "sila: a Position subscriber did not see the move\n");
            return false;
        }
        report.add("sila_position_fanout_50_ms", static_cast<double>(last - confirmed),
                   "ms, the unit confirming a move to 50 subscribers all having it (wall clock, 1 ms steps)");
        return true;
    }

    // When the events log showed the unit's confirmation of the move.
    std::int64_t confirmedAt() const {
        QFile log(logFile());
        if (!log.open(QIODevice::ReadOnly)) {
            return 0;
        }
        const QString needle = QStringLiteral("Position set to %1").arg(kTarget);
        for (const QString& line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'))) {
            if (line.endsWith(needle)) {
                return QDateTime::fromString(line.section(QLatin1Char('\t'), 0, 0), Qt::ISODateWithMs)
                    .toMSecsSinceEpoch();
            }
        }
        return 0;
    }

    // The demo's wake-ups a second while idle: with the server off, or (on the
    // running one) with one Position subscription open.
    double idleWakeUps(bool on) {
        if (!on) {
            PanelProcess off;
            if (!off.start({})) {
                return std::nan("");
            }
            QThread::sleep(1);
            return wakeUpsOf(off.pid());
        }
        return wakeUpsOf(panel_.pid());
    }

    static double wakeUpsOf(qint64 pid) {
        const long before = processWakeUps(pid);
        QThread::sleep(kIdleSeconds);
        return static_cast<double>(processWakeUps(pid) - before) / kIdleSeconds;
    }

    bool idle(Report& report, double off) {
        using namespace sila2::org::valvepanel::valves::valvecontrol::v1;
        grpc::ClientContext context;
        auto reader = valve_->Subscribe_Position(&context, {});
        Subscribe_Position_Responses first;
        reader->Read(&first);
        QThread::sleep(1);
        const double on = idleWakeUps(true);
        context.TryCancel();
        const double floor = grpcAloneWakeUps();
        report.add("sila_idle_wakeups_per_s", on,
                   "wake-ups/s idle, the demo with the server and one subscription");
        report.add("sila_idle_off_wakeups_per_s", off,
                   "wake-ups/s (reference: the demo with the server off)");
        report.add("sila_grpc_alone_wakeups_per_s", floor,
                   "wake-ups/s (reference: gRPC's own server alone, one call open)");
        report.add("sila_idle_wakeups_more_per_s", on - off, "wake-ups/s more with the server on");
        return !std::isnan(off) && !std::isnan(floor);
    }

    // gRPC's timer threads wake whatever the server on it does: the idle
    // wake-ups of a bare gRPC server with one call open.
    static double grpcAloneWakeUps() {
        QProcess server;
        server.start(QStringLiteral(GRPC_FLOOR), {});
        if (!server.waitForReadyRead(10'000)) {
            std::fprintf(stderr, "sila: gRPC's bare server did not start\n");
            return std::nan("");
        }
        const auto channel = grpc::CreateChannel("127.0.0.1:" + server.readLine().trimmed().toStdString(),
                                                 grpc::InsecureChannelCredentials());
        grpc::GenericStub stub(channel);
        grpc::CompletionQueue queue;
        grpc::ClientContext context;
        const auto call = stub.PrepareCall(&context, "/floor.Floor/Open", &queue);
        call->StartCall(nullptr);
        void* tag = nullptr;
        bool ok = false;
        queue.Next(&tag, &ok);
        QThread::sleep(1);
        const double wakeUps = wakeUpsOf(server.processId());
        context.TryCancel();
        server.kill();
        server.waitForFinished();
        queue.Shutdown();
        while (queue.Next(&tag, &ok)) {
        }
        return wakeUps;
    }

    bool soak(Report& report) {
        for (int i = 0; i < kWarmCalls; ++i) {
            if (!readStatus()) {
                return false;
            }
        }
        const long before = panel_.residentKb();
        for (int i = 0; i < kSoakCalls; ++i) {
            if (!readStatus()) {
                std::fprintf(stderr, "sila: ReadStatus failed in the soak\n");
                return false;
            }
        }
        report.add("sila_growth_20000_calls_mb", static_cast<double>(panel_.residentKb() - before) / 1024.0,
                   "MB resident growth over 20,000 ReadStatus calls, once warm (12,000 before)");
        return true;
    }

    static double percentile(std::vector<double> values, double fraction) {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[static_cast<std::size_t>(fraction * (values.size() - 1))];
    }
    static double msSince(std::chrono::steady_clock::time_point started) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    }

    static constexpr int kTarget = 6;
    PanelProcess panel_;
    int port_ = 0;
    std::shared_ptr<grpc::Channel> channel_;
    std::unique_ptr<sila2::org::valvepanel::valves::valvecontrol::v1::ValveControl::Stub> valve_;
};

} // namespace valve::bench
