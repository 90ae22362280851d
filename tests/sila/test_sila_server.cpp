// The SiLA 2 server of the panel on the simulated unit, driven as an orchestrator drives it.
#include "sila/certificate.h"
#include "sila/feature_definitions.h"
#include "sila_fixture.h"

#include <QAction>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

namespace valve::testing {
namespace {

// Over TLS with the certificate it made, which carries its UUID.
TEST_F(SilaServerTest, ServiceOverTlsTellsWhoItIsAndListsItsFeatures) {
    serve({QStringLiteral("127.0.0.1:0"), {}, {}, {}, false, false});
    EXPECT_TRUE(rig.window().findChild<QAction*>(QStringLiteral("mnuSilaServer"))->text().contains("TLS"));
    const QString own = sila::configDirectory() + QLatin1Char('/') + server().identity().uuid();
    EXPECT_EQ(QFile::permissions(own + QStringLiteral("-key.pem")),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                  QFileDevice::WriteUser);
    QFile file(own + QStringLiteral("-cert.pem"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray pem = file.readAll();
    grpc::SslCredentialsOptions trust;
    trust.pem_root_certs = pem.toStdString();
    SilaClient client(grpc::CreateChannel("127.0.0.1:" + std::to_string(port), grpc::SslCredentials(trust)));
    using Stub = ss::SiLAService::Stub;
    const auto uuid = unary(client.service, &Stub::Get_ServerUUID).second.serveruuid().value();
    EXPECT_EQ(sila::certificateUuid(pem).toStdString(), uuid);
    const std::vector<std::pair<const char*, std::string>> formats{
        {"[A-Z][a-zA-Z0-9]*", unary(client.service, &Stub::Get_ServerType).second.servertype().value()},
        {"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}", uuid},
        {"(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)(\\.(0|[1-9][0-9]*))?(_[_a-zA-Z0-9]+)?",
         unary(client.service, &Stub::Get_ServerVersion).second.serverversion().value()},
        {"https?://.+", unary(client.service, &Stub::Get_ServerVendorURL).second.servervendorurl().value()},
    };
    for (const auto& [pattern, value] : formats) {
        const QRegularExpression format(QRegularExpression::anchoredPattern(QLatin1String(pattern)));
        EXPECT_TRUE(format.match(QString::fromStdString(value)).hasMatch()) << value;
    }
    // Known by the adapter's serial number, so the same unit keeps its UUID whatever its description.
    EXPECT_EQ(sila::ServerIdentity("NR Valve", "NRV0000", config.path()).uuid().toStdString(), uuid);

    const auto features = unary(client.service, &Stub::Get_ImplementedFeatures).second;
    ASSERT_EQ(features.implementedfeatures_size(), 3);
    for (const auto& feature : features.implementedfeatures()) {
        ss::GetFeatureDefinition_Parameters request;
        request.mutable_featureidentifier()->set_value(feature.value());
        const auto [status, response] = unary(client.service, &Stub::GetFeatureDefinition, request);
        ASSERT_TRUE(status.ok()) << feature.value();
        const QString definition = QString::fromStdString(response.featuredefinition().value());
        EXPECT_TRUE(definition.contains(QStringLiteral("<Feature")));
        EXPECT_EQ(definition, sila::featureDefinition(QString::fromStdString(feature.value())));
    }
}

// A defined error of a run ends it with an error that its _Result returns.
TEST_F(SilaServerTest, UnitFailuresAreDefinedErrorsOfTheRun) {
    serve();
    SilaClient client(port);
    const std::vector<std::pair<std::function<void()>, const char*>> faults{
        {[&] { rig.driver.unit(0).setPowered(false); }, "MoveNotConfirmed"}, // the unit silent
        {[&] { rig.driver.unplug(0); }, "UnitNotConnected"},
    };
    for (const auto& [fault, name] : faults) {
        fault();
        const auto uuid = moveTo(client, 5);
        EXPECT_EQ(moveFinished(client, uuid), fw::ExecutionInfo::finishedWithError) << name;
        const auto error = silaError(unary(client.valve, &vc::ValveControl::Stub::MoveTo_Result, uuid).first)
                               .definedexecutionerror();
        EXPECT_EQ(error.erroridentifier(), std::string(kValve) + "/DefinedExecutionError/" + name)
            << error.message();
        EXPECT_FALSE(error.message().empty()) << name;
    }
    const auto connected = offThread([&] {
        return readStream<vc::Subscribe_Connected_Responses>(
            [&](grpc::ClientContext* c) { return client.valve->Subscribe_Connected(c, {}); },
            [](const auto& messages) { return !messages.empty(); });
    });
    ASSERT_EQ(connected.size(), 1U);
    EXPECT_FALSE(connected.front().connected().value());
}

// The last client leaves mid-move: the move goes on.
TEST_F(SilaServerTest, MoveRunsLikeAClickSubscribersSeeAMoveMadeInTheWindowAndAClientThatLeavesStopsNothing) {
    serve();
    {
        SilaClient client(port);
        auto seen = watchPosition(client, 9);
        runUntil([&] { return server().clients() == 1; });
        rig.c().pos.at(8)->click();
        EXPECT_EQ(lastPosition(seen, 20s), 9);

        const auto uuid = moveTo(client, 7);
        EXPECT_EQ(moveFinished(client, uuid), fw::ExecutionInfo::finishedSuccessfully);
        const auto [status, result] = unary(client.valve, &vc::ValveControl::Stub::MoveTo_Result, uuid);
        ASSERT_TRUE(status.ok());
        EXPECT_EQ(result.position().value(), 7);
        EXPECT_EQ(rig.unit().position, 7);
        EXPECT_TRUE(rig.log().contains(QStringLiteral("SiLA: move 7"))) << rig.log().join('\n').toStdString();
        const auto read = unary(client.valve, &vc::ValveControl::Stub::ReadStatus).second;
        EXPECT_EQ(read.position().value(), 7);
        EXPECT_FALSE(read.firmwarerevision().value().empty());
        moveTo(client, 12); // 5 steps of 2 ms
    }
    EXPECT_TRUE(runUntil([&] { return rig.unit().position == 12; }));
    EXPECT_TRUE(runUntil([&] { return server().clients() == 0; }));
}

// Subscribed only after the confirmation, the client still sees the step due at 0 s.
TEST_F(SilaServerTest, RoutineReportsEveryStepAndItsResultAndASecondClientStopsOneWhileMovesWaitForIt) {
    serve();
    SilaClient first(port);
    auto uuid = runRoutine(first, {{0.0, 3}, {0.05, 6}, {0.1, 2}});
    const auto steps = offThread([&] {
        return readStream<tr::RunRoutine_IntermediateResponses>(
            [&](grpc::ClientContext* c) { return first.routine->RunRoutine_Intermediate(c, uuid); });
    });
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(std::tuple(steps.back().stepindex().value(), steps.back().position().value()),
              std::tuple(3, 2));
    EXPECT_EQ(routineFinished(first, uuid), fw::ExecutionInfo::finishedSuccessfully);
    auto result = unary(first.routine, &tr::TimedRoutine::Stub::RunRoutine_Result, uuid).second;
    EXPECT_EQ(result.stepsdone().value(), 3);
    EXPECT_EQ(journals.ids(), QStringList{QString::fromStdString(result.journalid().value())});
    EXPECT_EQ(rig.c().btnRun->isEnabled(), true); // the table in the window ran it and is free again

    SilaClient second(port);
    uuid = runRoutine(first, {{0.0, 3}, {60.0, 6}});
    runUntil([&] { return rig.unit().position == 3; });
    const auto running = offThread([&] {
        return readStream<tr::Subscribe_RoutineRunning_Responses>(
            [&](grpc::ClientContext* c) { return second.routine->Subscribe_RoutineRunning(c, {}); },
            [](const auto& messages) { return !messages.empty(); });
    });
    ASSERT_EQ(running.size(), 1U);
    EXPECT_TRUE(running.front().routinerunning().value());
    EXPECT_EQ(moveFinished(second, moveTo(second, 4)), fw::ExecutionInfo::finishedWithError);
    ASSERT_TRUE(unary(second.routine, &tr::TimedRoutine::Stub::StopRoutine).first.ok());
    EXPECT_EQ(routineFinished(first, uuid), fw::ExecutionInfo::finishedSuccessfully);
    result = unary(first.routine, &tr::TimedRoutine::Stub::RunRoutine_Result, uuid).second;
    EXPECT_EQ(result.stepsdone().value(), 1);
}

// The UUID follows the adapter's serial number wherever it is plugged in; only an adapter without one
// is known by its description. Panels with no adapter are not all one server: each installation keeps
// its own UUID.
TEST(SilaIdentity, TheServerUuidFollowsTheSerialNumber) {
    QTemporaryDir config, other;
    const auto uuid = [&](const char* description, const char* serial) {
        return sila::ServerIdentity(QLatin1String(description), QLatin1String(serial), config.path()).uuid();
    };
    using Adapter = std::array<const char*, 2>; // description, serial number
    const std::vector<std::tuple<Adapter, Adapter, bool>> cases{
        {{"NR Valve", "NRV0001"}, {"NR Valve", "NRV0001"}, true},
        {{"NR Valve", "NRV0001"}, {"NR Valve B", "NRV0001"}, true},
        {{"NR Valve", "NRV0001"}, {"NR Valve", "NRV0002"}, false},
        {{"NR Valve", ""}, {"NR Valve", ""}, true},
        {{"NR Valve", ""}, {"NR Valve B", ""}, false},
        {{"NR Valve", ""}, {"NR Valve", "NRV0001"}, false},
        {{"", ""}, {"", ""}, true}, // no adapter: the installation's own UUID
        {{"", ""}, {"NR Valve", ""}, false},
    };
    for (const auto& [one, another, same] : cases) {
        EXPECT_EQ(uuid(one[0], one[1]) == uuid(another[0], another[1]), same)
            << one[0] << " " << one[1] << " / " << another[0] << " " << another[1];
    }
    EXPECT_NE(sila::ServerIdentity({}, other.path()).uuid(), uuid("", ""));
    EXPECT_FALSE(QUuid(uuid("", "")).isNull());
}

// valvectl serve's tests see one refusal through to its exit; each reason is held here.
TEST(SilaListen, NetworkAndPlainListeningNeedTheirFlags) {
    const auto with = [](const char* address, bool insecure, bool open, const char* ca = "") {
        return sila::ListenOptions{QLatin1String(address), {}, {}, QLatin1String(ca), insecure, open};
    };
    // Each with part of the reason it is refused, or "" when accepted.
    const std::vector<std::pair<sila::ListenOptions, const char*>> cases{
        {with("50052", false, false), ""},
        {with("127.0.0.1:0", true, false), ""},
        {with("[::1]:50052", true, false), ""},
        {with("0.0.0.0:50052", false, false), "--sila-client-ca"},
        {with("0.0.0.0:50052", true, true), "only on loopback"},
        {with("[::]:50052", true, false), "only on loopback"},
        {with("[::]:50052", false, true), ""},
        {with("192.168.1.20:50052", false, false, "/etc/lab-ca.pem"), ""},
        {with("192.168.1.20:50052", true, false, "/etc/lab-ca.pem"), "only on loopback"},
        {with("lab-host:50052", false, true), "not an IP address"},
        {with("127.0.0.1:65536", false, false), "not a port number"},
        {with("::1:50052", false, false), "is not PORT, HOST:PORT or [IPv6]:PORT"},
    };
    for (const auto& [options, refusal] : cases) {
        const auto checked = sila::checkListen(options);
        EXPECT_EQ(checked.plan.has_value(), *refusal == '\0') << options.address.toStdString();
        EXPECT_TRUE(*refusal == '\0' ? checked.error.isEmpty()
                                     : checked.error.contains(QLatin1String(refusal)))
            << checked.error.toStdString();
    }
}

} // namespace
} // namespace valve::testing
