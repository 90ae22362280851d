// The simulated unit's parser and executor, the unit on its line on a test clock, and the simulated
// driver's rules for opening and closing where the link's tests do not reach them.
#include "sim/simulated_driver.h"
#include "sim/simulated_unit.h"
#include "sim/unit_commands.h"

#include <gtest/gtest.h>
#include <ranges>

using namespace valve::sim;
using namespace std::chrono_literals;
using Kind = ParsedCommand::Kind;
namespace ft = valve::link::ft;

namespace {

TEST(CommandLine, ReadsCodeAndArgumentAndRejectsMalformedLines) {
    const ParsedCommand move = parseCommandLine("P0A");
    EXPECT_EQ(std::tuple(move.kind, move.code, move.hasArgument, move.argument),
              std::tuple(Kind::Valid, 'P', true, 10));
    EXPECT_EQ(parseCommandLine("GFF").argument, 255);
    const std::pair<const char*, Kind> kinds[] = {
        {"S", Kind::Valid},         {"3", Kind::Valid},         {"", Kind::Empty},
        {"Z", Kind::Unknown},       {"s", Kind::Unknown},       {"4", Kind::Unknown},
        {"P", Kind::BadArgument},   {"P1", Kind::BadArgument},  {"P0A0", Kind::BadArgument},
        {"Pa5", Kind::BadArgument}, {"P 5", Kind::BadArgument}, {"S1", Kind::BadArgument},
    };
    for (const auto& [line, kind] : kinds) {
        EXPECT_EQ(parseCommandLine(line).kind, kind) << '"' << line << '"';
    }
}

void expectReplies(UnitState& state, std::initializer_list<std::pair<const char*, const char*>> exchanges) {
    for (const auto& [line, reply] : exchanges) {
        EXPECT_EQ(executeCommand(parseCommandLine(line), state).reply, QByteArray(reply)) << line;
    }
}

// Invalid input is not answered; its code (66 for a position, else 77) goes to "E" and the stack.
TEST(UnitCommands, MovesCountStepsTheShortWayRoundAndRefusedCommandsRecordErrors) {
    UnitState state;
    for (const auto& [line, steps] : {std::pair{"P07", 6}, {"P0C", 5}, {"M", 1}}) { // homing: 12 -> 1
        EXPECT_EQ(executeCommand(parseCommandLine(line), state).moveSteps, steps) << line;
    }
    EXPECT_EQ(state.position, 1);
    expectReplies(state, {{"P00", ""}, {"P0D", ""}, {"E", "42\r"}, {"F06", ""}, {"X00", ""}, {"I10", "\r"}});
    expectReplies(state,
                  {{"Wa5", ""}, {"K", ""}, {"E", "4D\r"}, {"G07", "4D\r"}, {"G0A", "4D\r"}, {"G0B", "42\r"}});
    EXPECT_EQ(std::tuple(state.position, state.commandMode, state.memory[0x10]), std::tuple(1, 1, 0));
    state.lastError = 0;
    expectReplies(state, {{"", ""}});
    EXPECT_EQ(state.lastError, 0) << "a lone CR is no error";
}

// One byte on a 19200 baud 8N1 line: start bit, 8 data bits, stop bit.
constexpr SimDuration kByte = SimDuration{std::chrono::seconds{10}} / 19200;
constexpr SimDuration kProcessing = 200us, kStep = 10ms;

class SimulatedUnitTest : public ::testing::Test {
protected:
    SimulatedUnitTest() { unit.wire().setEnabled(true); }

    void at(SimTime start, SimDuration offset) { now = start + offset; }
    void advance(SimDuration by) { now += by; }
    QList<int> overlaps() {
        auto requests = unit.wire().overlaps() | std::views::transform(&WireRecord::Overlap::requestIndex);
        return {requests.begin(), requests.end()};
    }

    SimTime now{std::chrono::seconds{1000}};
    SimulatedUnit unit{UnitTiming{kByteTime19200, kProcessing, kStep}, [this] { return now; }};
};

TEST_F(SimulatedUnitTest, ReplyBytesBecomeReadableAtTheWireRate) {
    const SimTime start = now;
    unit.hostWrite("S\r");
    const SimTime replyBegins = start + 2 * kByte + kProcessing;
    for (const auto& [offset, readable] : {std::pair{kByte - 1ns, 0u}, {kByte, 1u}, {3 * kByte - 1ns, 2u}}) {
        at(replyBegins, offset);
        EXPECT_EQ(unit.readableCount(), readable);
    }
    at(replyBegins, 3 * kByte);
    EXPECT_EQ(unit.takeReadable(10), "01\r");
    EXPECT_EQ(unit.wire().bytes().at(1).at, start + 2 * kByte);
}

TEST_F(SimulatedUnitTest, MoveAcknowledgesWhenDoneAndStatusWaits) {
    const SimTime start = now;
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

TEST_F(SimulatedUnitTest, OverlapsAreRequestsBegunWhileAReplyWasOwedOrUnread) {
    for (const char* line : {"S\r", "Z\rE\r", "P03\r"}) { // "Z" is unknown: it owes nothing
        unit.hostWrite(line);
        advance(100ms);
        unit.takeReadable(10);
    }
    EXPECT_FALSE(unit.wire().interleaved()) << "every reply was read first";
    unit.hostWrite("I12\rWA5\r"); // back to back
    unit.hostWrite("G12\r");
    advance(100ms);
    EXPECT_EQ(unit.takeReadable(10), "\r\rA5\r");
    EXPECT_EQ(unit.wire().hostLines().mid(4), (QList<QByteArray>{"I12\r", "WA5\r", "G12\r"}));
    EXPECT_EQ(overlaps(), (QList<int>{5, 6}));

    unit.hostWrite("S\r");
    advance(2 * kByte + kProcessing + kByte); // one reply byte is out
    unit.hostWrite("Q\r");
    advance(10ms);
    unit.hostWrite("S\r"); // the reply to "Q" is out but unread
    advance(10ms);
    unit.takeReadable(10);
    unit.hostWrite("E\r");
    advance(2 * kByte + kProcessing + 3 * kByte - kByte / 2);
    unit.hostWrite("S\r"); // the last byte of the reply to "E" is still on the line
    advance(10ms);
    EXPECT_EQ(overlaps(), (QList<int>{5, 6, 8, 9, 11}));
}

TEST_F(SimulatedUnitTest, PurgesDropQueuedBytesOnlyAndAPowerCutOrBadLinesGoUnanswered) {
    unit.hostWrite("S\r");
    advance(2 * kByte + kProcessing + 2 * kByte); // two reply bytes readable, one on the line
    unit.purgeHostReceive();
    EXPECT_EQ(unit.readableCount(), 0u);
    advance(kByte);
    EXPECT_EQ(unit.takeReadable(5), "\r");

    unit.hostWrite("S\r");
    unit.purgeHostTransmit(); // nothing has reached the unit yet
    advance(10ms);
    EXPECT_EQ(unit.readableCount(), 0u);
    EXPECT_EQ(unit.wire().hostLines().size(), 1);

    // Switched off mid-move it ignores input and ends the move once on; bad lines go unanswered.
    unit.hostWrite("P0C\r");
    advance(kStep);
    unit.setPowered(false);
    unit.hostWrite("S\r");
    advance(1s);
    unit.setPowered(true);
    unit.hostWrite(QByteArray(200, 'S') + "\rS\r" + QByteArray("\x00\xff\n\r", 4) + "S\n\r");
    advance(1s);
    EXPECT_EQ(unit.takeReadable(100), "0C\r");
}

TEST(SimulatedDriver, OpensTheFirstFreeMatchAndRefusesWhatTheLibraryRefuses) {
    SimulatedDriver driver;
    for (const char* description : {"NR Valve Unit A", "NR Valve Unit B", "NR Valve Unit A"}) {
        driver.addAdapter(description, UnitTiming::instant());
    }
    driver.setOpenElsewhere(1, true);
    valve::link::FtHandle first = 0;
    valve::link::FtHandle second = 0;
    valve::link::FtHandle none = 0;
    ASSERT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, first), ft::OK);
    ASSERT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, second), ft::OK);
    EXPECT_EQ(driver.handleOf(2), second);
    EXPECT_EQ(driver.openEx("NR Valve Unit A", ft::OPEN_BY_DESCRIPTION, none), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(driver.openEx("NR Valve Unit B", ft::OPEN_BY_DESCRIPTION, none), ft::DEVICE_NOT_OPENED);
    EXPECT_EQ(driver.openEx("NR Valve Unit", ft::OPEN_BY_DESCRIPTION, none), ft::DEVICE_NOT_FOUND);
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(driver.setBaudRate(first, 0), ft::INVALID_BAUD_RATE);
    EXPECT_EQ(driver.setDataCharacteristics(first, 9, 0, 0), ft::INVALID_PARAMETER);
    EXPECT_EQ(driver.settings(0).baudRate, 0u) << "refused values do not stick";
    EXPECT_EQ(driver.close(first), ft::OK);
    EXPECT_EQ(driver.close(first), ft::INVALID_HANDLE);
    // A handle from before an unplug stays dead after the replug.
    driver.unplug(2);
    driver.replug(2);
    EXPECT_EQ(driver.setFlowControl(second, 0, 0, 0), ft::IO_ERROR);
    EXPECT_EQ(driver.handlesHeld(), 1u);
}

} // namespace
