#pragma once

// A panel on the simulated unit with its SiLA 2 server, and the steps of an
// orchestrator's calls.
#include "panel_rig.h"
#include "sequencer/run_journal.h"
#include "sila/listen_options.h"
#include "sila/sila_server.h"
#include "sila_client.h"
#include "ui/sila_wiring.h"

#include <QTemporaryDir>
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
    // The serial number of the simulated unit's adapter.
    QString serial() { return QString::fromLatin1(rig.panel->link().device_serial()); }

    // Starts an observable command and waits for its end through _Info; the last info.
    template <class Info>
    fw::ExecutionInfo::CommandStatus finished(const fw::CommandExecutionUUID& uuid, Info info) {
        const auto infos = offThread([&] {
            return readStream<fw::ExecutionInfo>([&](grpc::ClientContext* c) { return info(c, uuid); },
                                                 [](const auto&) { return false; });
        });
        return infos.empty() ? fw::ExecutionInfo::waiting : infos.back().commandstatus();
    }
    // The execution a command's confirmation names; its status to `status` if given.
    static fw::CommandExecutionUUID started(const std::pair<grpc::Status, fw::CommandConfirmation>& call,
                                            grpc::Status* status) {
        if (status != nullptr) {
            *status = call.first;
        }
        return call.second.commandexecutionuuid();
    }
    fw::CommandExecutionUUID moveTo(SilaClient& client, int position, grpc::Status* status = nullptr) {
        vc::MoveTo_Parameters request;
        request.mutable_position()->set_value(position);
        return started(unary(client.valve, &vc::ValveControl::Stub::MoveTo, request), status);
    }
    fw::CommandExecutionUUID runRoutine(SilaClient& client, const std::vector<std::pair<double, int>>& steps,
                                        grpc::Status* status = nullptr) {
        tr::RunRoutine_Parameters request;
        for (const auto& [seconds, position] : steps) {
            auto* step = request.add_steps()->mutable_step();
            step->mutable_seconds()->set_value(seconds);
            step->mutable_position()->set_value(position);
        }
        return started(unary(client.routine, &tr::TimedRoutine::Stub::RunRoutine, request), status);
    }
    fw::ExecutionInfo::CommandStatus moveFinished(SilaClient& client, const fw::CommandExecutionUUID& uuid) {
        return finished(
            uuid, [&](grpc::ClientContext* c, const auto& id) { return client.valve->MoveTo_Info(c, id); });
    }
    fw::ExecutionInfo::CommandStatus routineFinished(SilaClient& client,
                                                     const fw::CommandExecutionUUID& uuid) {
        return finished(uuid, [&](grpc::ClientContext* c, const auto& id) {
            return client.routine->RunRoutine_Info(c, id);
        });
    }

    QTemporaryDir config;
    QTemporaryDir runs;
    sequencer::JournalFolder journals{runs.path()};
    PanelRig rig{
        {"NR Valve"},
        sim::UnitTiming{sim::SimDuration{0}, sim::SimDuration{0}, 2ms},
        {std::chrono::milliseconds{150}, std::chrono::milliseconds{10}, std::chrono::milliseconds{1}},
        nullptr,
        {.journals = &journals}};
    int port = 0;
};

} // namespace valve::testing
