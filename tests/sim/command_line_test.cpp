#include "sim/command_line.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <random>

using valve::sim::parseCommandLine;
using valve::sim::ParsedCommand;
using Kind = ParsedCommand::Kind;

TEST(CommandLine, ReadsCodeAndArgumentAndRejectsMalformedLines) {
    const ParsedCommand move = parseCommandLine("P0A");
    EXPECT_EQ(move.kind, Kind::Valid);
    EXPECT_EQ(move.code, 'P');
    EXPECT_TRUE(move.hasArgument);
    EXPECT_EQ(move.argument, 10);
    EXPECT_EQ(parseCommandLine("GFF").argument, 255);
    EXPECT_FALSE(parseCommandLine("S").hasArgument);

    const std::pair<const char*, Kind> kinds[] = {
        {"S", Kind::Valid},         {"3", Kind::Valid},         {"", Kind::Empty},
        {"Z", Kind::Unknown},       {"s", Kind::Unknown},       {"4", Kind::Unknown},
        {"P", Kind::BadArgument},   {"P1", Kind::BadArgument},  {"P0A0", Kind::BadArgument},
        {"Pa5", Kind::BadArgument}, {"P 5", Kind::BadArgument}, {"WG1", Kind::BadArgument},
        {"S1", Kind::BadArgument},  {"M00", Kind::BadArgument}, {"W", Kind::BadArgument},
    };
    for (const auto& [line, kind] : kinds) {
        EXPECT_EQ(parseCommandLine(line).kind, kind) << '"' << line << '"';
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
