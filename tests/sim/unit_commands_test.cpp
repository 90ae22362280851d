#include "sim/unit_commands.h"

#include <gtest/gtest.h>

using namespace valve::sim;

namespace {

// Runs the lines in turn on one unit and checks each reply ("" = no reply).
void expectReplies(UnitState& state, std::initializer_list<std::pair<const char*, const char*>> exchanges) {
    for (const auto& [line, reply] : exchanges) {
        EXPECT_EQ(executeCommand(parseCommandLine(line), state).reply, QByteArray(reply)) << line;
    }
}

} // namespace

TEST(UnitCommands, QueriesAnswerWithTwoHexDigitsAndSettersTakeEffect) {
    UnitState state;
    state.position = 12;
    state.lastError = 44;
    state.portPositions = {9, 10, 11};
    expectReplies(state, {{"S", "0C\r"},
                          {"E", "2C\r"},
                          {"R", "43\r"}, // revision letter C
                          {"1", "09\r"},
                          {"3", "0B\r"},
                          {"G20", "14\r"}, // clock: 20 MHz
                          {"F04", "\r"},
                          {"D", "04\r"},
                          {"B0C", "\r"},
                          {"2", "0C\r"},
                          {"O09", "\r"},
                          {"Q", "09\r"},
                          {"X04", "\r"},
                          {"N5A", "\r"},
                          // "W" writes where the last "I" pointed, again and again.
                          {"I13", "\r"},
                          {"WA5", "\r"},
                          {"G13", "A5\r"},
                          {"G14", "00\r"},
                          {"W5A", "\r"},
                          {"G13", "5A\r"},
                          {"I20", "\r"},
                          {"W04", "\r"},
                          {"G20", "04\r"}});
    EXPECT_EQ(state.baudCode, 4);
    EXPECT_EQ(state.i2cAddress, 0x5A);
}

TEST(UnitCommands, MovesAndHomingCountSteps) {
    UnitState state;
    CommandOutcome move = executeCommand(parseCommandLine("P07"), state);
    EXPECT_EQ(move.reply, "\r");
    EXPECT_EQ(move.moveSteps, 6);
    EXPECT_EQ(executeCommand(parseCommandLine("P0C"), state).moveSteps, 5);
    EXPECT_EQ(executeCommand(parseCommandLine("M"), state).moveSteps, 1); // 12 -> 1 the short way round
    EXPECT_EQ(state.position, 1);
}

// Invalid input is not answered; it leaves its error code in "E" and on the stack.
TEST(UnitCommands, RefusedCommandsRecordErrors) {
    UnitState state;
    expectReplies(state, {{"P00", ""}, {"P0D", ""}});
    EXPECT_EQ(state.position, 1);
    EXPECT_EQ(state.lastError, UnitState::kPositioningError);
    expectReplies(state, {{"F06", ""},
                          {"X00", ""},
                          {"I10", "\r"},
                          {"Wa5", ""}, // the editor's text must be two upper-case hex digits
                          {"K", ""},
                          {"E", "4D\r"}, // 77
                          // Newest first at 0x07: K, W, X, F, then the second P; the first P fell off.
                          {"G07", "4D\r"},
                          {"G0A", "4D\r"},
                          {"G0B", "42\r"}});
    EXPECT_EQ(state.commandMode, 1);
    EXPECT_EQ(state.memory[0x10], 0);
    // A lone CR is no error.
    state.lastError = 0;
    expectReplies(state, {{"", ""}});
    EXPECT_EQ(state.lastError, 0);
}
