#include "sim/unit_commands.h"

#include <gtest/gtest.h>

using namespace valve::sim;

namespace {

QByteArray run(UnitState& state, const char* line) {
    return executeCommand(parseCommandLine(line), state).reply;
}

} // namespace

TEST(UnitCommands, QueriesAnswerWithTwoHexDigitsAndCr) {
    UnitState state;
    state.position = 12;
    state.lastError = 44;
    state.opMode = 7;
    state.commandMode = 5;
    state.portPositions = {9, 10, 11};
    EXPECT_EQ(run(state, "S"), "0C\r");
    EXPECT_EQ(run(state, "E"), "2C\r");
    EXPECT_EQ(run(state, "R"), "43\r"); // revision letter C
    EXPECT_EQ(run(state, "Q"), "07\r");
    EXPECT_EQ(run(state, "D"), "05\r");
    EXPECT_EQ(run(state, "1"), "09\r");
    EXPECT_EQ(run(state, "2"), "0A\r");
    EXPECT_EQ(run(state, "3"), "0B\r");
    EXPECT_EQ(run(state, "G20"), "14\r"); // clock: 20 MHz
}

TEST(UnitCommands, SettersAcknowledgeAndTakeEffect) {
    UnitState state;
    EXPECT_EQ(run(state, "F04"), "\r");
    EXPECT_EQ(run(state, "D"), "04\r");
    EXPECT_EQ(run(state, "B0C"), "\r");
    EXPECT_EQ(run(state, "2"), "0C\r");
    EXPECT_EQ(run(state, "O09"), "\r");
    EXPECT_EQ(run(state, "Q"), "09\r");
    EXPECT_EQ(run(state, "X04"), "\r");
    EXPECT_EQ(state.baudCode, 4);
    EXPECT_EQ(run(state, "N5A"), "\r");
    EXPECT_EQ(state.i2cAddress, 0x5A);
    EXPECT_EQ(state.lastError, 0);
}

TEST(UnitCommands, MemorySelectWriteRead) {
    UnitState state;
    EXPECT_EQ(run(state, "I13"), "\r");
    EXPECT_EQ(run(state, "WA5"), "\r");
    EXPECT_EQ(run(state, "G13"), "A5\r");
    EXPECT_EQ(run(state, "G14"), "00\r");
    // "W" writes where the last "I" pointed, again and again.
    EXPECT_EQ(run(state, "W5A"), "\r");
    EXPECT_EQ(state.memory[0x13], 0x5A);
    EXPECT_EQ(run(state, "I20"), "\r");
    EXPECT_EQ(run(state, "W04"), "\r");
    EXPECT_EQ(run(state, "G20"), "04\r");
}

TEST(UnitCommands, MovesAndHomingCountSteps) {
    UnitState state;
    CommandOutcome move = executeCommand(parseCommandLine("P07"), state);
    EXPECT_EQ(move.reply, "\r");
    EXPECT_EQ(move.moveSteps, 6);
    EXPECT_EQ(state.position, 7);
    move = executeCommand(parseCommandLine("P0C"), state);
    EXPECT_EQ(move.moveSteps, 5);
    const CommandOutcome home = executeCommand(parseCommandLine("M"), state);
    EXPECT_EQ(home.moveSteps, 1); // 12 -> 1 the short way round
    EXPECT_EQ(state.position, 1);
    EXPECT_EQ(stepsBetween(3, 3), 0);
}

// Invalid input is not answered; it leaves its error code in "E" and on the stack.
TEST(UnitCommands, RefusedCommandsRecordErrors) {
    UnitState state;
    EXPECT_TRUE(run(state, "P00").isEmpty());
    EXPECT_TRUE(run(state, "P0D").isEmpty());
    EXPECT_EQ(state.position, 1);
    EXPECT_EQ(state.lastError, UnitState::kPositioningError);
    EXPECT_TRUE(run(state, "F06").isEmpty());
    EXPECT_TRUE(run(state, "X00").isEmpty());
    EXPECT_EQ(state.commandMode, 1);
    EXPECT_TRUE(run(state, "I10").size() == 1);
    EXPECT_TRUE(run(state, "Wa5").isEmpty()); // the editor's text must be two upper-case hex digits
    EXPECT_EQ(state.memory[0x10], 0);
    EXPECT_TRUE(run(state, "K").isEmpty());
    EXPECT_EQ(run(state, "E"), "4D\r"); // 77
    // Newest first at 0x07: K, W, X, F, then the second P; the first P fell off.
    EXPECT_EQ(run(state, "G07"), "4D\r");
    EXPECT_EQ(run(state, "G0A"), "4D\r");
    EXPECT_EQ(run(state, "G0B"), "42\r"); // 66
    // A lone CR is no error.
    state.lastError = 0;
    EXPECT_TRUE(run(state, "").isEmpty());
    EXPECT_EQ(state.lastError, 0);
}
