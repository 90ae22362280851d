#include "command_bench.h"
#include "protocol/query_commands.h"
#include "protocol/text_field.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::protocol::Port;
using valve::protocol::Session;
using valve::protocol::StoredText;
using valve::protocol::TextField;
using valve::testing::await;
using valve::testing::CommandBench;
namespace protocol = valve::protocol;

namespace {

const QString kTalkFailure = QStringLiteral("USB Error - could not talk to the device");

class QueryCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bench.connected); }
    // The unit answers the next request with these characters.
    void reply(const char* characters) { bench.unit().scriptReply(characters); }

    CommandBench bench;
    Session& session = *bench.session;
    StoredText box;
};

using Read = std::function<QCoro::Task<std::optional<int>>(Session&, TextField&)>;

TEST_F(QueryCommandsTest, EachReadShowsItsReplyInItsOwnForm) {
    const struct {
        Read read;
        const char* reply;
        const char* shown;
        QByteArray request;
    } cases[] = {
        {protocol::read_status, "0C\r", "12", "S\r"},
        {protocol::read_status, "FF\r", "255", "S\r"},
        {protocol::read_clock, "14\r", " 20 MHz", "G20\r"},
        {protocol::read_clock, "04\r", " 4 MHz", "G20\r"},
        {protocol::read_firmware_revision, "41\r", "Rev.A Nerra", "R\r"},
        {protocol::read_op_mode, "03\r", "3", "Q\r"},
        {protocol::read_cmd_mode, "05\r", "Dual Pulse", "D\r"},
        {protocol::read_control_method, "05\r", "Dual Pulse", "D\r"},
        {[](Session& s, TextField& f) { return protocol::read_port_position(s, Port::B, f); }, "0B\r", "11",
         "2\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString() + c.reply);
        reply(c.reply);
        await(c.read(session, box));
        EXPECT_EQ(box.text(), c.shown);
        EXPECT_EQ(bench.sent().last(), c.request);
    }
    EXPECT_TRUE(bench.logLines().isEmpty());
    EXPECT_TRUE(bench.boxes.texts.isEmpty());
}

TEST_F(QueryCommandsTest, ErrorCodesAreNamedByTheirValueNotTheirDigits) {
    const struct {
        const char* reply;
        const char* shown; // "kept": the box is left alone
        const char* line;  // "": nothing logged
    } cases[] = {
        {"2C\r", "44", "Last error: code 44 - a Check Sum Error"},
        {"37\r", "55", "Last error: code 55 - Data Integrity Error"},
        {"42\r", "66", "Last error: code 66 - a Valve Positioning Error"},
        {"4D\r", "77", "Last error: code 77 - a Configuration or Command Mode Error"},
        {"58\r", "88", "Last error: code 88 - a Non-Volatile Memory Error"},
        {"63\r", "99", "Last error: code 99 - a Valve Homing Error"},
        {"44\r", "kept", ""}, // 68 has no name
        {"00\r", "kept", ""}, // no error at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        box.setText("kept");
        bench.log.clear();
        reply(c.reply);
        await(protocol::read_error(session, box));
        EXPECT_EQ(box.text(), c.shown);
        EXPECT_EQ(bench.logLines(), *c.line ? QStringList{c.line} : QStringList{});
    }
    int named = 0;
    for (int code = 0; code <= 255; ++code) {
        named += protocol::namedErrorLine(code).has_value() ? 1 : 0;
    }
    EXPECT_EQ(named, 6);
}

TEST_F(QueryCommandsTest, UnknownCommandModeCodesWithEitherButton) {
    for (const char* digits : {"06\r", "00\r"}) {
        SCOPED_TRACE(digits);
        StoredText control;
        control.setText("Pulse");
        box.setText("Pulse");
        bench.boxes.texts.clear();
        reply(digits);
        await(protocol::read_cmd_mode(session, box));
        reply(digits);
        await(protocol::read_control_method(session, control));
        EXPECT_EQ(box.text(), "Error");
        EXPECT_EQ(control.text(), "");
        EXPECT_EQ(bench.boxes.texts, QStringList{"Invalid Command Mode"});
    }
    EXPECT_TRUE(bench.logLines().isEmpty());
}

TEST_F(QueryCommandsTest, TwoCharacterReplyFailsAtTheThirdRead) {
    bench.unit().truncateReplies(2);
    box.setText("old");
    await(protocol::read_status(session, box));
    EXPECT_EQ(box.text(), "old");
    EXPECT_EQ(bench.logLines(), QStringList{kTalkFailure});

    bench.log.clear();
    await(protocol::read_control_method(session, box));
    EXPECT_EQ(box.text(), "old");
    EXPECT_EQ(bench.logLines(), QStringList{"USB Error - could not read control method."});
    EXPECT_TRUE(bench.boxes.texts.isEmpty());
}

TEST_F(QueryCommandsTest, OnlyTheConfigurationTabReadsCheckTheLink) {
    const std::pair<Read, bool> queries[]{
        {protocol::read_status, true},
        {protocol::read_error, true},
        {protocol::read_control_method, true},
        {protocol::read_firmware_revision, true},
        {protocol::read_op_mode, true},
        {protocol::read_cmd_mode, false},
        {protocol::read_clock, false},
        {[](Session& s, TextField& f) { return protocol::read_port_position(s, Port::B, f); }, false},
    };
    for (const auto& [query, checks] : queries) {
        const auto before = bench.probes();
        await(query(session, box));
        EXPECT_EQ(bench.probes() - before, checks ? 1 : 0) << bench.sent().last().toStdString();
    }
}

TEST_F(QueryCommandsTest, LateReplyDoesNotReachTheNextCommand) {
    bench.unit().state().position = 5;
    bench.unit().state().lastError = 0;
    bench.unit().delayReplies(250ms, 1);
    await(protocol::read_error(session, box)); // gives up after 150 ms
    EXPECT_EQ(bench.logLines(), QStringList{kTalkFailure});
    // Let the late "00" arrive before the next command.
    ASSERT_TRUE(valve::testing::runUntil([&] { return bench.wire().unitBytes().size() == 3; }, 2000ms));

    StoredText status;
    await(protocol::read_status(session, status));
    EXPECT_EQ(status.text(), "5");
    EXPECT_EQ(bench.logLines().size(), 1);
}

TEST_F(QueryCommandsTest, CommandsClickedDuringAWaitRunOneAfterAnother) {
    bench.unit().state().position = 9;
    bench.unit().delayReplies(60ms, 1); // the first reply keeps the others waiting
    StoredText status;
    StoredText error;
    StoredText clock;
    auto first = valve::testing::start(protocol::read_status(session, status));
    auto second = valve::testing::start(protocol::read_error(session, error));
    auto third = valve::testing::start(protocol::read_clock(session, clock));
    ASSERT_TRUE(valve::testing::runUntil([&] { return *first && *second && *third; }));
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"S\r", "E\r", "G20\r"}));
    EXPECT_FALSE(bench.wire().interleaved());
    EXPECT_EQ(status.text(), "9");
    EXPECT_EQ(clock.text(), " 20 MHz");
    EXPECT_TRUE(bench.logLines().isEmpty());
}

} // namespace
