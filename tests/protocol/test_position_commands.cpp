#include "command_bench.h"
#include "protocol/position_commands.h"
#include "protocol/query_commands.h"
#include "protocol/text_field.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::protocol::StoredText;
using valve::testing::await;
using valve::testing::CommandBench;

namespace {

const QString kTalkFailure = QStringLiteral("USB Error - could not talk to the device");

class PositionCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bench.connected);
        position.setText("1");
    }

    CommandBench bench;
    valve::protocol::Session& session = *bench.session;
    StoredText position;
};

TEST_F(PositionCommandsTest, MoveIsConfirmedByTheStatusRead) {
    await(valve::protocol::move_valve(session, 7, position));
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"P07\r", "S\r"}));
    EXPECT_EQ(bench.logLines(), QStringList{"Position set to 7"});
    EXPECT_EQ(position.text(), "7");

    await(valve::protocol::move_valve(session, 12, position));
    EXPECT_EQ(bench.sent().mid(2), (QList<QByteArray>{"P0C\r", "S\r"}));
    EXPECT_EQ(position.text(), "12");
    EXPECT_EQ(bench.probes(), 2); // each button checks the link first
}

TEST_F(PositionCommandsTest, ThreeDistinctFailures) {
    // The valve reports another position.
    bench.unit().scriptReply("03\r", 'S');
    await(valve::protocol::move_valve(session, 7, position));
    EXPECT_EQ(bench.logLines(), QStringList{"Position was not achieved"});

    // The move is not acknowledged: no status request follows.
    bench.log.clear();
    bench.wire().clear();
    bench.unit().scriptReply("", 'P');
    await(valve::protocol::move_valve(session, 4, position));
    EXPECT_EQ(bench.logLines(), QStringList{"Error - Could not set position, make sure position is valid."});
    EXPECT_EQ(bench.sent(), QList<QByteArray>{"P04\r"});

    // The status reply stops short.
    bench.log.clear();
    bench.unit().scriptReply("0", 'S');
    await(valve::protocol::move_valve(session, 4, position));
    EXPECT_EQ(bench.logLines(), QStringList{"Error - Could not recieve the position status."});

    EXPECT_EQ(position.text(), "1");
}

TEST_F(PositionCommandsTest, PositionsThatDoNotFitAByteAreNotSent) {
    for (const std::int16_t wide : {std::int16_t{256}, std::int16_t{-1}}) {
        EXPECT_FALSE(await(session.positions.set_position(wide)));
    }
    EXPECT_TRUE(bench.sent().isEmpty());
    EXPECT_EQ(bench.logLines().size(), 2);
}

TEST_F(PositionCommandsTest, HomingShowsTheReportedPositionAndLogsNothing) {
    bench.unit().state().position = 8;
    await(valve::protocol::home_valve(session, position));
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"M\r", "S\r"}));
    EXPECT_EQ(position.text(), "1");
    EXPECT_TRUE(bench.logLines().isEmpty());
    EXPECT_EQ(bench.probes(), 0);

    bench.unit().scriptReply("ZZ\r", 'S'); // not hexadecimal: reads as 0
    await(valve::protocol::home_valve(session, position));
    EXPECT_EQ(position.text(), "0");
}

TEST_F(PositionCommandsTest, HomingWithoutAnswerDoesNotAskForTheStatus) {
    bench.unit().setPowered(false);
    await(valve::protocol::home_valve(session, position));
    EXPECT_EQ(bench.logLines(), QStringList{kTalkFailure});
    EXPECT_EQ(bench.driver.callTexts().filter("FT_Write").size(), 1);

    bench.unit().setPowered(true);
    bench.log.clear();
    bench.unit().scriptReply("0", 'S');
    await(valve::protocol::home_valve(session, position));
    EXPECT_EQ(bench.logLines(), QStringList{kTalkFailure});
    EXPECT_EQ(position.text(), "1");
}

TEST_F(PositionCommandsTest, StatusClickedDuringAMoveWaitsForTheMove) {
    CommandBench slow(valve::sim::UnitTiming{}, 1000ms); // real line and move times
    ASSERT_TRUE(slow.connected);
    StoredText status;
    auto move = valve::testing::start(valve::protocol::move_valve(*slow.session, 7, position));
    auto read = valve::testing::start(valve::protocol::read_status(*slow.session, status));
    auto home = valve::testing::start(valve::protocol::home_valve(*slow.session, position));
    ASSERT_TRUE(valve::testing::runUntil([&] { return *move && *read && *home; }));
    EXPECT_EQ(slow.sent(), (QList<QByteArray>{"P07\r", "S\r", "S\r", "M\r", "S\r"}));
    EXPECT_FALSE(slow.wire().interleaved());
    EXPECT_EQ(slow.logLines(), QStringList{"Position set to 7"});
    EXPECT_EQ(status.text(), "7");
    EXPECT_EQ(position.text(), "1");
}

} // namespace
