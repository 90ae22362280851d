#include "command_bench.h"
#include "protocol/query_commands.h"
#include "protocol/text_field.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::protocol::Port;
using valve::protocol::StoredText;
using valve::testing::await;
using valve::testing::CommandBench;

namespace {

const QString kTalkFailure = QStringLiteral("USB Error - could not talk to the device");

class QueryCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bench.connected); }
    // The unit answers the next request with these three characters.
    void reply(const char* characters) { bench.unit().scriptReply(characters); }

    CommandBench bench;
    valve::protocol::Session& session = *bench.session;
    StoredText box;
};

TEST_F(QueryCommandsTest, StatusShowsTheReplyValueInDecimal) {
    reply("0C\r");
    await(valve::protocol::read_status(session, box));
    EXPECT_EQ(box.text(), "12");
    reply("FF\r");
    await(valve::protocol::read_status(session, box));
    EXPECT_EQ(box.text(), "255");
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"S\r", "S\r"}));
    EXPECT_TRUE(bench.logLines().isEmpty());
}

TEST_F(QueryCommandsTest, NamedErrorCodesAreComparedAsDecimalValues) {
    reply("2C\r");
    await(valve::protocol::read_error(session, box));
    EXPECT_EQ(box.text(), "44");
    EXPECT_EQ(bench.logLines(), QStringList{"Last error: code 44 - a Check Sum Error"});

    reply("63\r");
    await(valve::protocol::read_error(session, box));
    EXPECT_EQ(box.text(), "99");
    EXPECT_EQ(bench.logLines().last(), "Last error: code 99 - a Valve Homing Error");

    // 44 as digits is 68, which has no name; 0 is no error at all.
    box.setText("kept");
    bench.log.clear();
    for (const char* digits : {"44\r", "00\r"}) {
        reply(digits);
        await(valve::protocol::read_error(session, box));
    }
    EXPECT_EQ(box.text(), "kept");
    EXPECT_TRUE(bench.logLines().isEmpty());
    EXPECT_EQ(bench.sent().size(), 4);
}

TEST_F(QueryCommandsTest, ErrorTableHasExactlyTheSixNamedCodes) {
    int named = 0;
    for (int code = 0; code <= 255; ++code) {
        named += valve::protocol::namedErrorLine(code).has_value() ? 1 : 0;
    }
    EXPECT_EQ(named, 6);
    EXPECT_EQ(valve::protocol::namedErrorLine(55), "Last error: code 55 - Data Integrity Error");
    EXPECT_EQ(valve::protocol::namedErrorLine(66), "Last error: code 66 - a Valve Positioning Error");
    EXPECT_EQ(valve::protocol::namedErrorLine(77),
              "Last error: code 77 - a Configuration or Command Mode Error");
    EXPECT_EQ(valve::protocol::namedErrorLine(88), "Last error: code 88 - a Non-Volatile Memory Error");
}

TEST_F(QueryCommandsTest, CommandModeReadWithEitherButton) {
    StoredText control;
    reply("05\r");
    await(valve::protocol::read_cmd_mode(session, box));
    reply("05\r");
    await(valve::protocol::read_control_method(session, control));
    EXPECT_EQ(box.text(), "Dual Pulse");
    EXPECT_EQ(control.text(), "Dual Pulse");
    EXPECT_TRUE(bench.boxes.texts.isEmpty());
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"D\r", "D\r"}));
}

TEST_F(QueryCommandsTest, UnknownCommandModeCodes) {
    for (const char* digits : {"06\r", "00\r"}) {
        StoredText control;
        control.setText("Pulse");
        box.setText("Pulse");
        bench.boxes.texts.clear();
        reply(digits);
        await(valve::protocol::read_cmd_mode(session, box));
        reply(digits);
        await(valve::protocol::read_control_method(session, control));
        EXPECT_EQ(box.text(), "Error") << digits;
        EXPECT_EQ(control.text(), "") << digits;
        EXPECT_EQ(bench.boxes.texts, QStringList{"Invalid Command Mode"}) << digits;
    }
    EXPECT_TRUE(bench.logLines().isEmpty());
}

TEST_F(QueryCommandsTest, ClockTextHasALeadingBlank) {
    bench.unit().state().memory[0x20] = 20;
    await(valve::protocol::read_clock(session, box));
    EXPECT_EQ(box.text(), " 20 MHz");
    bench.unit().state().memory[0x20] = 4;
    await(valve::protocol::read_clock(session, box));
    EXPECT_EQ(box.text(), " 4 MHz");
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"G20\r", "G20\r"}));
}

TEST_F(QueryCommandsTest, FirmwareRevisionLetterAndNumbers) {
    reply("41\r");
    await(valve::protocol::read_firmware_revision(session, box));
    EXPECT_EQ(box.text(), "Rev.A Nerra");

    bench.unit().state().opMode = 3;
    StoredText opMode;
    await(valve::protocol::read_op_mode(session, opMode));
    EXPECT_EQ(opMode.text(), "3");

    bench.unit().state().portPositions = {4, 11, 6};
    StoredText a;
    StoredText b;
    StoredText c;
    await(valve::protocol::read_port_position(session, Port::A, a));
    await(valve::protocol::read_port_position(session, Port::B, b));
    await(valve::protocol::read_port_position(session, Port::C, c));
    EXPECT_EQ(QStringList({a.text(), b.text(), c.text()}), QStringList({"4", "11", "6"}));
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"R\r", "Q\r", "1\r", "2\r", "3\r"}));
}

TEST_F(QueryCommandsTest, TwoCharacterReplyFailsAtTheThirdRead) {
    bench.unit().truncateReplies(2);
    box.setText("old");
    await(valve::protocol::read_status(session, box));
    EXPECT_EQ(box.text(), "old");
    EXPECT_EQ(bench.logLines(), QStringList{kTalkFailure});

    bench.log.clear();
    await(valve::protocol::read_control_method(session, box));
    EXPECT_EQ(box.text(), "old");
    EXPECT_EQ(bench.logLines(), QStringList{"USB Error - could not read control method."});
    EXPECT_TRUE(bench.boxes.texts.isEmpty());
}

TEST_F(QueryCommandsTest, OnlyTheConfigurationTabReadsCheckTheLink) {
    using Query = QCoro::Task<> (*)(valve::protocol::Session&, valve::protocol::TextField&);
    const std::vector<std::pair<Query, bool>> queries{
        {valve::protocol::read_status, true},         {valve::protocol::read_error, true},
        {valve::protocol::read_control_method, true}, {valve::protocol::read_firmware_revision, true},
        {valve::protocol::read_op_mode, true},        {valve::protocol::read_cmd_mode, false},
        {valve::protocol::read_clock, false},
    };
    for (const auto& [query, checks] : queries) {
        const auto before = bench.probes();
        await(query(session, box));
        EXPECT_EQ(bench.probes() - before, checks ? 1 : 0) << bench.sent().last().toStdString();
    }
    const auto before = bench.probes();
    await(valve::protocol::read_port_position(session, Port::B, box));
    EXPECT_EQ(bench.probes(), before);
}

TEST_F(QueryCommandsTest, LateReplyDoesNotReachTheNextCommand) {
    bench.unit().state().position = 5;
    bench.unit().state().lastError = 0;
    bench.unit().delayReplies(250ms, 1);
    await(valve::protocol::read_error(session, box)); // gives up after 150 ms
    EXPECT_EQ(bench.logLines(), QStringList{kTalkFailure});
    // Let the late "00" arrive before the next command.
    ASSERT_TRUE(valve::testing::runUntil([&] { return bench.wire().unitBytes().size() == 3; }, 2000ms));

    StoredText status;
    await(valve::protocol::read_status(session, status));
    EXPECT_EQ(status.text(), "5");
    EXPECT_EQ(bench.logLines().size(), 1);
}

TEST_F(QueryCommandsTest, CommandsClickedDuringAWaitRunOneAfterAnother) {
    bench.unit().state().position = 9;
    bench.unit().delayReplies(60ms, 1); // the first reply keeps the others waiting
    StoredText status;
    StoredText error;
    StoredText clock;
    auto first = valve::testing::start(valve::protocol::read_status(session, status));
    auto second = valve::testing::start(valve::protocol::read_error(session, error));
    auto third = valve::testing::start(valve::protocol::read_clock(session, clock));
    ASSERT_TRUE(valve::testing::runUntil([&] { return *first && *second && *third; }));
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"S\r", "E\r", "G20\r"}));
    EXPECT_FALSE(bench.wire().interleaved());
    EXPECT_EQ(status.text(), "9");
    EXPECT_EQ(clock.text(), " 20 MHz");
    EXPECT_TRUE(bench.logLines().isEmpty());
}

} // namespace
