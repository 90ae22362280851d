#include "manual_clock.h"
#include "sim/simulated_unit.h"

#include <gtest/gtest.h>

using namespace valve::sim;
using namespace std::chrono_literals;
using valve::sim::testing::ManualClock;

namespace {

constexpr SimDuration kByte = kByteTime19200;
constexpr SimDuration kProcessing = 200us;
constexpr SimDuration kStep = 10ms;

class SimulatedUnitTest : public ::testing::Test {
protected:
    ManualClock clock;
    SimulatedUnit unit{UnitTiming{kByte, kProcessing, kStep}, clock.function()};

    // Moves the clock to `start + offset`.
    void at(SimTime start, SimDuration offset) { clock.advance(start + offset - clock.now()); }
};

} // namespace

// "S\r" takes two byte times to reach the unit; the reply follows after the
// processing time, one byte time per character.
TEST_F(SimulatedUnitTest, ReplyBytesBecomeReadableAtTheWireRate) {
    const SimTime start = clock.now();
    unit.hostWrite("S\r");
    const SimTime replyBegins = start + 2 * kByte + kProcessing;
    at(start, 2 * kByte + kProcessing + kByte - 1ns);
    EXPECT_EQ(unit.readableCount(), 0u);
    at(replyBegins, kByte);
    EXPECT_EQ(unit.readableCount(), 1u);
    at(replyBegins, 3 * kByte - 1ns);
    EXPECT_EQ(unit.readableCount(), 2u);
    at(replyBegins, 3 * kByte);
    EXPECT_EQ(unit.takeReadable(10), "01\r");
    EXPECT_EQ(unit.readableCount(), 0u);

    const auto& bytes = unit.wire().bytes();
    ASSERT_EQ(bytes.size(), 5u);
    EXPECT_EQ(bytes[1].at, start + 2 * kByte);
    EXPECT_EQ(bytes[4].at, replyBegins + 3 * kByte);
    EXPECT_EQ(bytes[4].direction, WireRecord::Direction::UnitToHost);
}

// The acknowledgement of a move comes when the valve has arrived, and a status
// request sent meanwhile is answered only after the move, with the new position.
TEST_F(SimulatedUnitTest, MoveAcknowledgesWhenDoneAndStatusWaits) {
    const SimTime start = clock.now();
    unit.hostWrite("P05\rS\r");
    const SimTime ackAt = start + 4 * kByte + kProcessing + 4 * kStep + kByte;
    at(start, 4 * kByte + 2 * kStep);
    EXPECT_TRUE(unit.busy());
    at(ackAt, -1ns);
    EXPECT_EQ(unit.readableCount(), 0u);
    at(ackAt, 0ns);
    EXPECT_EQ(unit.takeReadable(1), "\r");
    at(ackAt, kProcessing + 3 * kByte);
    EXPECT_EQ(unit.takeReadable(3), "05\r");
    EXPECT_FALSE(unit.busy());
}

TEST_F(SimulatedUnitTest, WireRecordSplitsHostLines) {
    unit.hostWrite("I12\rWA5\r");
    unit.hostWrite("G12\r");
    clock.advance(100ms);
    EXPECT_EQ(unit.takeReadable(10), "\r\rA5\r");
    EXPECT_EQ(unit.wire().hostLines(), (QList<QByteArray>{"I12\r", "WA5\r", "G12\r"}));
    // Sent back to back: each request began while the one before was owed its reply.
    ASSERT_EQ(unit.wire().overlaps().size(), 2u);
    EXPECT_EQ(unit.wire().overlaps()[0].requestIndex, 1);
}

TEST_F(SimulatedUnitTest, InterleaveCheckerSeesOnlyRealOverlaps) {
    unit.hostWrite("S\r");
    clock.advance(10ms);
    EXPECT_EQ(unit.takeReadable(3), "01\r");
    unit.hostWrite("Z\r"); // unknown: owes nothing
    clock.advance(10ms);
    unit.hostWrite("E\r");
    EXPECT_FALSE(unit.wire().interleaved());

    // A second request while the reply to the first is still being sent.
    clock.advance(10ms);
    unit.takeReadable(3);
    const SimTime start = clock.now();
    unit.hostWrite("S\r");
    at(start, 2 * kByte + kProcessing + kByte); // one reply byte is out
    unit.hostWrite("Q\r");
    clock.advance(10ms);
    ASSERT_EQ(unit.wire().overlaps().size(), 1u);
    EXPECT_EQ(unit.wire().hostLines().at(unit.wire().overlaps()[0].requestIndex), "Q\r");
}

// A request begun before the host had the whole reply to the one before is
// an overlap, even when the reply is out by the time the request arrives.
TEST_F(SimulatedUnitTest, RequestBegunBeforeTheReplyWasReadOverlaps) {
    const SimTime start = clock.now();
    unit.hostWrite("S\r");
    const SimTime lastReplyByte = start + 2 * kByte + kProcessing + 3 * kByte;
    at(lastReplyByte, -kByte / 2);
    unit.hostWrite("E\r"); // the last byte of "01\r" is still on the line
    clock.advance(10ms);
    ASSERT_EQ(unit.wire().overlaps().size(), 1u);
    EXPECT_EQ(unit.wire().overlaps()[0].requestIndex, 1);

    unit.hostWrite("S\r"); // the reply to "E" is out but unread
    clock.advance(10ms);
    EXPECT_EQ(unit.wire().overlaps().size(), 2u);

    // Read first, then sent: no overlap.
    unit.wire().clear();
    unit.takeReadable(10);
    unit.hostWrite("S\r");
    at(clock.now(), 2 * kByte + kProcessing + 3 * kByte);
    EXPECT_EQ(unit.takeReadable(3), "01\r");
    unit.hostWrite("E\r");
    clock.advance(10ms);
    EXPECT_FALSE(unit.wire().interleaved());
}

TEST_F(SimulatedUnitTest, PurgesDropQueuedBytesOnly) {
    const SimTime start = clock.now();
    unit.hostWrite("S\r");
    at(start, 2 * kByte + kProcessing + 2 * kByte); // two reply bytes readable, one on the line
    unit.purgeHostReceive();
    EXPECT_EQ(unit.readableCount(), 0u);
    clock.advance(kByte);
    EXPECT_EQ(unit.takeReadable(5), "\r");

    unit.hostWrite("S\r");
    unit.purgeHostTransmit(); // nothing has reached the unit yet
    clock.advance(10ms);
    EXPECT_EQ(unit.readableCount(), 0u);
    EXPECT_EQ(unit.wire().hostLines().size(), 1);
}

TEST_F(SimulatedUnitTest, PoweredOffUnitIgnoresInputAndLosesOwedReplies) {
    unit.hostWrite("P0C\r");
    clock.advance(kStep); // mid-move
    unit.setPowered(false);
    clock.advance(1s);
    EXPECT_EQ(unit.readableCount(), 0u);
    unit.hostWrite("S\r");
    clock.advance(10ms);
    EXPECT_EQ(unit.readableCount(), 0u);
    EXPECT_EQ(unit.wire().hostBytes(), "P0C\rS\r"); // the line still carried them

    unit.setPowered(true);
    unit.hostWrite("S\r");
    clock.advance(10ms);
    EXPECT_EQ(unit.takeReadable(3), "0C\r");
}

TEST_F(SimulatedUnitTest, TruncatedAndScriptedReplies) {
    unit.truncateReplies(2, 1);
    unit.hostWrite("S\r");
    clock.advance(10ms);
    EXPECT_EQ(unit.takeReadable(5), "01");
    unit.hostWrite("S\r");
    clock.advance(10ms);
    EXPECT_EQ(unit.takeReadable(5), "01\r"); // only once

    unit.scriptReply("03\r", 'S');
    unit.scriptReply(""); // next request of any kind: silence
    unit.hostWrite("E\rS\rS\r");
    clock.advance(10ms);
    EXPECT_EQ(unit.takeReadable(10), "03\r01\r"); // E silenced, first S scripted

    unit.scriptReply("X", 'P');
    unit.hostWrite("P04\r");
    clock.advance(100ms);
    EXPECT_EQ(unit.takeReadable(10), "X");
    EXPECT_EQ(unit.state().position, 4); // the move itself happened
}

TEST_F(SimulatedUnitTest, DelayedReplyArrivesLateAndKeepsOrder) {
    unit.delayReplies(3500ms, 1);
    unit.hostWrite("S\r");
    clock.advance(3000ms);
    EXPECT_EQ(unit.readableCount(), 0u);
    unit.hostWrite("E\r"); // the host gave up and asks again
    clock.advance(499ms);
    EXPECT_EQ(unit.readableCount(), 0u);
    clock.advance(10ms);
    EXPECT_EQ(unit.takeReadable(10), "01\r00\r"); // the late reply comes first
    EXPECT_TRUE(unit.wire().interleaved());
}

TEST_F(SimulatedUnitTest, OverlongAndGarbageLinesGetNoReply) {
    unit.hostWrite(QByteArray(200, 'S') + "\rS\r");
    unit.hostWrite(QByteArray("\x00\xff\n\r", 4));
    unit.hostWrite("S\n\r");
    clock.advance(200ms);
    EXPECT_EQ(unit.takeReadable(10), "01\r");
    EXPECT_EQ(unit.state().lastError, UnitState::kCommandError);
}

TEST(SimulatedUnitInstant, AnswersWithoutAnyDelay) {
    ManualClock clock;
    SimulatedUnit unit{UnitTiming::instant(), clock.function()};
    unit.hostWrite("P0B\rS\r");
    EXPECT_EQ(unit.takeReadable(10), "\r0B\r");
}
