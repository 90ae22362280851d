#pragma once

// A panel on the simulated unit with its SiLA 2 server, and the steps of an orchestrator's calls.
#include "panel_rig.h"
#include "sequencer/run_journal.h"
#include "sila/listen_options.h"
#include "sila/sila_server.h"
#include "sila_client.h"
#include "ui/sila_wiring.h"

#include <QTemporaryDir>
#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace valve::testing {

using namespace std::chrono_literals;

constexpr auto kValve = "org.valvepanel/valves/ValveControl/v1";
constexpr auto kRoutine = "org.valvepanel/valves/TimedRoutine/v1";

class SilaServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        ASSERT_TRUE(rig.startClean());
    }
    // Starts the panel's server on a port of the system's choice.
    void serve(sila::ListenOptions options = {QStringLiteral("127.0.0.1:0"), {}, {}, {}, true, false},
               sila::SilaTiming timing = {}) {
        auto checked = sila::checkListen(options);
        ASSERT_TRUE(checked.plan) << checked.error.toStdString();
        checked.plan->timing = timing;
        QString error;
        ASSERT_TRUE(rig.panel->serveSila(*checked.plan, &error)) << error.toStdString();
        port = rig.panel->sila()->server().port();
    }
    sila::SilaServer& server() { return rig.panel->sila()->server(); }

    static vc::MoveTo_Parameters moveRequest(int position) {
        vc::MoveTo_Parameters request;
        request.mutable_position()->set_value(position);
        return request;
    }
    // A routine of (seconds, position) steps.
    static tr::RunRoutine_Parameters routineRequest(const std::vector<std::pair<double, int>>& steps) {
        tr::RunRoutine_Parameters request;
        for (const auto& [seconds, position] : steps) {
            auto* step = request.add_steps()->mutable_step();
            step->mutable_seconds()->set_value(seconds);
            step->mutable_position()->set_value(position);
        }
        return request;
    }
    // Starts a command; the execution its confirmation names.
    static fw::CommandExecutionUUID moveTo(SilaClient& client, int position) {
        const auto started = unary(client.valve, &vc::ValveControl::Stub::MoveTo, moveRequest(position));
        return started.second.commandexecutionuuid();
    }
    static fw::CommandExecutionUUID runRoutine(SilaClient& client,
                                               const std::vector<std::pair<double, int>>& steps) {
        const auto started =
            unary(client.routine, &tr::TimedRoutine::Stub::RunRoutine, routineRequest(steps));
        return started.second.commandexecutionuuid();
    }
    // Waits for an execution's end through its _Info stream: the last status.
    template <class Start> static fw::ExecutionInfo::CommandStatus finished(Start info) {
        const auto infos = offThread([&] { return readStream<fw::ExecutionInfo>(info); });
        return infos.empty() ? fw::ExecutionInfo::waiting : infos.back().commandstatus();
    }
    static auto moveFinished(SilaClient& client, const fw::CommandExecutionUUID& uuid) {
        return finished([&](grpc::ClientContext* c) { return client.valve->MoveTo_Info(c, uuid); });
    }
    static auto routineFinished(SilaClient& client, const fw::CommandExecutionUUID& uuid) {
        return finished([&](grpc::ClientContext* c) { return client.routine->RunRoutine_Info(c, uuid); });
    }

    using Positions = std::future<std::vector<vc::Subscribe_Position_Responses>>;
    // Reads Position on a thread of its own until it reports `last`; positionsRead follows the values read.
    Positions watchPosition(SilaClient& client, int last) {
        return std::async(std::launch::async, [this, &client, last] {
            return readStream<vc::Subscribe_Position_Responses>(
                [&](grpc::ClientContext* c) { return client.valve->Subscribe_Position(c, {}); },
                [&](const auto& messages) {
                    positionsRead = static_cast<int>(messages.size());
                    return !messages.empty() && messages.back().position().value() == last;
                });
        });
    }
    // The last position a watch read once it has ended, or -1.
    static int lastPosition(Positions& watch, std::chrono::milliseconds limit = 5s) {
        runUntil([&] { return watch.wait_for(0s) == std::future_status::ready; }, limit);
        const auto messages = watch.get();
        return messages.empty() ? -1 : messages.back().position().value();
    }

    QTemporaryDir config;
    QTemporaryDir runs;
    sequencer::JournalFolder journals{runs.path()};
    PanelRig rig{{"NR Valve"},
                 sim::UnitTiming{sim::SimDuration{0}, sim::SimDuration{0}, 2ms},
                 {150ms, 10ms, 1ms},
                 nullptr,
                 {.journals = &journals}};
    int port = 0;
    std::atomic<int> positionsRead{0};
};

} // namespace valve::testing
