#include "sim/command_line.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <random>

using valve::sim::parseCommandLine;
using valve::sim::ParsedCommand;
using Kind = ParsedCommand::Kind;

TEST(CommandLine, ReadsCodeAndArgument) {
    const ParsedCommand move = parseCommandLine("P0A");
    EXPECT_EQ(move.kind, Kind::Valid);
    EXPECT_EQ(move.code, 'P');
    EXPECT_TRUE(move.hasArgument);
    EXPECT_EQ(move.argument, 10);

    EXPECT_EQ(parseCommandLine("GFF").argument, 255);
    const ParsedCommand status = parseCommandLine("S");
    EXPECT_EQ(status.kind, Kind::Valid);
    EXPECT_FALSE(status.hasArgument);
    EXPECT_EQ(parseCommandLine("3").kind, Kind::Valid);
}

TEST(CommandLine, RejectsMalformedLines) {
    EXPECT_EQ(parseCommandLine("").kind, Kind::Empty);
    EXPECT_EQ(parseCommandLine("Z").kind, Kind::Unknown);
    EXPECT_EQ(parseCommandLine("s").kind, Kind::Unknown);
    EXPECT_EQ(parseCommandLine("4").kind, Kind::Unknown);
    for (const char* bad : {"P", "P1", "P0A0", "Pa5", "P 5", "WG1", "S1", "M00", "W"}) {
        EXPECT_EQ(parseCommandLine(bad).kind, Kind::BadArgument) << bad;
    }
}

// Random bytes must always give a result, and a Valid result must describe the
// line exactly (code first, argument digits as written).
TEST(CommandLine, TotalOnRandomInput) {
    std::mt19937 random(12345);
    for (int round = 0; round < 20000; ++round) {
        QByteArray line(static_cast<qsizetype>(random() % 6), '\0');
        for (char& c : line) {
            c = static_cast<char>(round % 2 == 0 ? random() % 256 : "SPGW0A9F\r"[random() % 9]);
        }
        const ParsedCommand parsed = parseCommandLine(line);
        if (parsed.valid()) {
            ASSERT_EQ(parsed.code, line.front());
            ASSERT_EQ(line.size(), parsed.hasArgument ? 3 : 1);
            if (parsed.hasArgument) {
                ASSERT_EQ(line.mid(1).toInt(nullptr, 16), parsed.argument);
            }
        }
    }
}
