// Bad input from the network: each gets a clear refusal, changes nothing, and the server keeps serving
// everyone else. Where a limit is what stops thousands (of connections, streams, unread messages), the
// limit plus one stands for the thousands. The limits are written out: a limit that moves fails the test.
#include "protocol/session.h"
#include "sila/executions.h"
#include "sila/feature_definitions.h"
#include "sila_fixture.h"

#include <QTcpSocket>
#include <grpcpp/generic/generic_stub.h>

namespace valve::testing {
namespace {

// A channel with a connection of its own: gRPC shares one between channels to the same address.
std::shared_ptr<grpc::Channel> ownConnection(int port, grpc::ChannelArguments extra = {}) {
    extra.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    return grpc::CreateCustomChannel("127.0.0.1:" + std::to_string(port), grpc::InsecureChannelCredentials(),
                                     extra);
}

// A unary call with `bytes` as its request, as a client built from other protos sends it.
grpc::Status rawCall(const std::shared_ptr<grpc::Channel>& channel, const std::string& method,
                     const std::string& bytes) {
    grpc::GenericStub stub(channel);
    grpc::ClientContext context;
    // A stream wrongly started by a refusable request fails its row instead of hanging the test.
    context.set_deadline(std::chrono::system_clock::now() + 10s);
    grpc::Slice slice(bytes);
    grpc::ByteBuffer request(&slice, 1);
    grpc::ByteBuffer response;
    std::promise<grpc::Status> done;
    stub.UnaryCall(&context, method, {}, &request, &response,
                   [&done](const grpc::Status& s) { done.set_value(s); });
    return done.get_future().get();
}

// A subscription to Position that is opened and then never read.
struct Unread {
    grpc::ClientContext context;
    std::unique_ptr<grpc::ClientReader<vc::Subscribe_Position_Responses>> reader;
    explicit Unread(SilaClient& client) {
        // A stream wrongly kept open fails the test instead of hanging it.
        context.set_deadline(std::chrono::system_clock::now() + 5s);
        reader = client.valve->Subscribe_Position(&context, {});
    }
    ~Unread() { context.TryCancel(); }
    grpc::StatusCode refusal() {
        return offThread([&] { return reader->Finish(); }).error_code();
    }
    // The server holds the stream once its first value (the position now) has come.
    bool held() {
        vc::Subscribe_Position_Responses first;
        return offThread([&] { return reader->Read(&first); });
    }
};

// SetServerName's request with a name of `length` characters: `length` + 8 bytes on the wire from 16 KiB
// to 2 MiB (two tags and two 3-byte lengths).
std::string named(std::size_t length, char letter = 'a') {
    ss::SetServerName_Parameters request;
    request.mutable_servername()->set_value(std::string(length, letter));
    return request.SerializeAsString();
}

// What a client reads in a status: a SiLA error's kind and what it names (the parameter, the defined
// error or the framework error's type), or else the gRPC code.
std::string outcome(const grpc::Status& status) {
    const fw::SiLAError error = silaError(status);
    switch (error.error_case()) {
    case fw::SiLAError::kValidationError:
        return "invalid " + error.validationerror().parameter();
    case fw::SiLAError::kDefinedExecutionError:
        return "defined " + error.definedexecutionerror().erroridentifier();
    case fw::SiLAError::kFrameworkError:
        return "framework " + fw::FrameworkError::ErrorType_Name(error.frameworkerror().errortype());
    default:
        return "code " + std::to_string(status.error_code());
    }
}

class SilaBadInput : public SilaServerTest {};

TEST_F(SilaBadInput, EachRequestIsRefusedClearlyAndChangesNothing) {
    serve();
    // Junk on the port: the connection is closed, and nobody else notices.
    QTcpSocket junk;
    junk.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
    ASSERT_TRUE(runUntil([&] { return junk.state() == QAbstractSocket::ConnectedState; }));
    junk.write(QByteArray("GET / HTTP/1.1\r\n\r\n") + QByteArray(4096, '\xa5'));
    EXPECT_TRUE(runUntil([&] { return junk.state() == QAbstractSocket::UnconnectedState; }));

    const auto channel = ownConnection(port);
    const std::string valve = std::string("/") + vc::ValveControl::service_full_name() + "/";
    const std::string service = std::string("/") + ss::SiLAService::service_full_name() + "/";
    const std::string move = valve + "MoveTo";
    const std::string run = std::string("/") + tr::TimedRoutine::service_full_name() + "/RunRoutine";
    const std::string setName = service + "SetServerName";
    const auto code = [](grpc::StatusCode code) { return "code " + std::to_string(code); };
    const std::string ok = code(grpc::StatusCode::OK);
    const std::string badName =
        "invalid " + std::string(sila::kSiLAServiceFeature) + "/Command/SetServerName/Parameter/ServerName";
    const std::string badPosition = "invalid " + std::string(kValve) + "/Command/MoveTo/Parameter/Position";
    const std::string badSteps = "invalid " + std::string(kRoutine) + "/Command/RunRoutine/Parameter/Steps";
    const std::string notAccepted = "framework COMMAND_EXECUTION_NOT_ACCEPTED";
    const std::string garbled = "\x0a\xff\xff\xff";
    const auto wire = [](const google::protobuf::Message& message) { return message.SerializeAsString(); };
    const auto instant = [&](std::size_t count) {
        return wire(routineRequest(std::vector(count, std::pair{0.0, 1})));
    };
    ss::GetFeatureDefinition_Parameters unknownFeature;
    unknownFeature.mutable_featureidentifier()->set_value("org.example/none/Nothing/v1");
    fw::CommandExecutionUUID unknownExecution;
    unknownExecution.set_value("00000000-0000-0000-0000-000000000000");
    const struct {
        const char* what;
        std::string method, bytes, outcome;
    } cases[] = {
        {"the longest name", setName, named(255), ok},
        {"a name one too long", setName, named(256), badName},
        // 64 KiB are read (and the name refused); one byte more is not read.
        {"the largest message", setName, named(65'536 - 8, 'n'), badName},
        {"one byte more", setName, named(65'536 - 7, 'n'), code(grpc::StatusCode::RESOURCE_EXHAUSTED)},
        {"position 0", move, wire(moveRequest(0)), badPosition},
        {"position 13", move, wire(moveRequest(13)), badPosition},
        {"no steps", run, "", badSteps},
        {"21 steps", run, instant(21), badSteps},
        {"times falling", run, wire(routineRequest({{1.0, 2}, {0.5, 3}})), badSteps},
        {"an Integer sent as a bare number", move, "\x08\x05", badPosition},
        {"a step sent as a bare number", run, "\x0a\x02\x08\x01", badSteps},
        // What does not parse names the command's first parameter, or is not accepted when it has none.
        {"a move that does not parse", move, garbled, badPosition},
        {"a routine that does not parse", run, garbled, badSteps},
        {"a name that does not parse", setName, garbled, badName},
        {"a homing that does not parse", valve + "Home", garbled, notAccepted},
        {"a subscription that does not parse", valve + "Subscribe_Position", garbled, notAccepted},
        {"an unknown feature", service + "GetFeatureDefinition", wire(unknownFeature),
         "defined org.silastandard/core/SiLAService/v1/DefinedExecutionError/UnimplementedFeature"},
        {"an unknown execution", valve + "MoveTo_Result", wire(unknownExecution),
         "framework INVALID_COMMAND_EXECUTION_UUID"},
        {"a method the server does not have", valve + "Explode", "", code(grpc::StatusCode::UNIMPLEMENTED)},
        {"twenty steps, run", run, instant(20), ok},
    };
    for (const auto& each : cases) {
        const grpc::Status status = offThread([&] { return rawCall(channel, each.method, each.bytes); });
        EXPECT_EQ(outcome(status), each.outcome) << each.what << ": " << status.error_message();
    }
    EXPECT_TRUE(runUntil([&] { return journals.ids().size() == 1 && rig.c().btnRun->isEnabled(); }));
    SilaClient client(channel);
    const auto name = unary(client.service, &ss::SiLAService::Stub::Get_ServerName).second.servername();
    EXPECT_EQ(name.value(), std::string(255, 'a'));
    // Kept for the next start.
    EXPECT_EQ(sila::ServerIdentity("NR Valve", "NRV0000", sila::configDirectory()).name(), QString(255, 'a'));
    EXPECT_EQ(unary(client.valve, &vc::ValveControl::Stub::ReadStatus).second.position().value(), 1);
}

TEST_F(SilaBadInput, ClientsAndStreamsPastTheirLimitsAreRefusedAndTheOthersServed) {
    serve();
    std::vector<std::unique_ptr<SilaClient>> clients;
    std::vector<std::unique_ptr<Unread>> held;
    const auto add = [&] {
        return clients.emplace_back(std::make_unique<SilaClient>(ownConnection(port))).get();
    };
    // One stream after the other, each held once it has the position: gRPC's threads may admit streams
    // opened together in any order.
    rig.panel->session().positions.report(3);
    const auto hold = [&](SilaClient& client) {
        ASSERT_TRUE(held.emplace_back(std::make_unique<Unread>(client))->held());
    };
    SilaClient* first = add();
    for (int stream = 0; stream < 32; ++stream) {
        hold(*first);
    }
    ASSERT_TRUE(runUntil([&] { return server().clients() == 1; }));
    EXPECT_EQ(Unread(*first).refusal(), grpc::StatusCode::RESOURCE_EXHAUSTED);
    while (clients.size() < 64) {
        hold(*add());
    }
    ASSERT_TRUE(runUntil([&] { return server().clients() == 64; }));
    SilaClient* extra = add();
    EXPECT_EQ(Unread(*extra).refusal(), grpc::StatusCode::RESOURCE_EXHAUSTED);
    for (SilaClient* each : {first, clients.at(1).get(), extra}) {
        EXPECT_EQ(unary(each->valve, &vc::ValveControl::Stub::ReadStatus).first.error_code(),
                  each == extra ? grpc::StatusCode::RESOURCE_EXHAUSTED : grpc::StatusCode::OK);
    }
    held.clear();
    EXPECT_TRUE(runUntil([&] { return server().clients() == 0; }));
}

TEST_F(SilaBadInput, AClientThatNeverReadsIsDroppedAndTheOthersKeepTheirUpdates) {
    serve();
    grpc::ChannelArguments small; // a small receive window, so unread messages pile up on the server
    small.SetInt(GRPC_ARG_HTTP2_STREAM_LOOKAHEAD_BYTES, 1024);
    small.SetInt(GRPC_ARG_HTTP2_BDP_PROBE, 0);
    SilaClient sleeper(ownConnection(port, small));
    SilaClient reader(ownConnection(port));
    Unread unread(sleeper);
    auto reading = watchPosition(reader, 7);
    ASSERT_TRUE(runUntil([&] { return server().clients() == 2; }));
    int reports = 0;
    // Each value waits until the reading client has it: only the sleeper falls behind.
    constexpr int kEnough = 1024 / 9 + 64 + 30; // the window at 9 bytes a message, and the backlog
    while (server().clients() == 2 && reports < kEnough) {
        rig.panel->session().positions.report(2 + reports % 2);
        ++reports;
        ASSERT_TRUE(runUntil([&] { return positionsRead >= reports; }, 5s)) << reports;
    }
    EXPECT_TRUE(runUntil([&] { return server().clients() == 1; }, 2s)) << reports << " values sent";
    // Dropped when its backlog is full, not before.
    EXPECT_GT(reports, 64);
    rig.panel->session().positions.report(7);
    EXPECT_EQ(lastPosition(reading), 7);
}

TEST_F(SilaBadInput, AnIdleConnectionIsClosedButNotOneHoldingASubscription) {
    EXPECT_EQ(sila::SilaTiming{}.idleConnection, std::chrono::minutes{10});
    serve({QStringLiteral("127.0.0.1:0"), {}, {}, {}, true, false}, {.idleConnection = 300ms});
    SilaClient idle(ownConnection(port));
    SilaClient subscribed(ownConnection(port));
    ASSERT_TRUE(unary(idle.valve, &vc::ValveControl::Stub::ReadStatus).first.ok());
    auto watching = watchPosition(subscribed, 4);
    EXPECT_EQ(idle.channel->GetState(false), GRPC_CHANNEL_READY);
    EXPECT_TRUE(runUntil([&] { return idle.channel->GetState(false) != GRPC_CHANNEL_READY; }, 2s));
    runUntil([] { return false; }, 600ms); // the subscription's connection stays twice the limit more
    EXPECT_EQ(subscribed.channel->GetState(false), GRPC_CHANNEL_READY);
    rig.panel->session().positions.report(4);
    EXPECT_EQ(lastPosition(watching), 4);
}

// With every kept run still going a new one is refused; once one has finished, the oldest finished run
// makes room. A result is kept an hour.
TEST(SilaExecutions, KeepAtMostTheirBoundAndTellTheirLifetime) {
    sila::Executions runs;
    std::vector<QString> kept;
    while (const auto uuid = runs.begin(1s)) {
        kept.push_back(*uuid);
    }
    EXPECT_EQ(kept.size(), 200U);
    runs.succeed(kept.at(5), vc::MoveTo_Responses{});
    EXPECT_TRUE(runs.begin(1s));
    vc::MoveTo_Responses result;
    EXPECT_FALSE(runs.result(kept.at(5), result).ok());
    EXPECT_EQ(sila::Executions::lifetime(5s).seconds(), 3605);
}

} // namespace
} // namespace valve::testing
