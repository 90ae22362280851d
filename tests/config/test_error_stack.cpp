#include "command_bench.h"
#include "config/error_stack.h"
#include "protocol/text_field.h"

#include <gtest/gtest.h>

using valve::config::ErrorStack;
using valve::protocol::StoredText;
using valve::testing::await;
using valve::testing::CommandBench;
using valve::testing::runUntil;
using valve::testing::start;

namespace {

const QList<QByteArray> kFullClear{"I07\r", "W00\r", "G07\r", "I08\r", "W00\r", "G08\r", "I09\r", "W00\r",
                                   "G09\r", "I0A\r", "W00\r", "G0A\r", "I0B\r", "W00\r", "G0B\r"};

class ErrorStackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bench.connected);
        const std::array<std::uint8_t, 5> entries{0x2C, 0, 0xFF, 3, 66};
        for (int i = 0; i < 5; ++i) {
            memory()[0x07 + i] = entries.at(static_cast<std::size_t>(i));
        }
    }

    std::array<std::uint8_t, 256>& memory() { return bench.unit().state().memory; }
    QStringList shown() const {
        QStringList texts;
        for (const auto& box : boxes) {
            texts << box.text();
        }
        return texts;
    }
    void fill(const QStringList& texts) {
        for (int i = 0; i < 5; ++i) {
            boxes.at(static_cast<std::size_t>(i)).setText(texts.at(i));
        }
    }

    CommandBench bench;
    std::array<StoredText, 5> boxes;
    ErrorStack stack{{&boxes[0], &boxes[1], &boxes[2], &boxes[3], &boxes[4]}};
    StoredText stat;
};

TEST_F(ErrorStackTest, ReadShowsTheFiveEntriesInDecimal) {
    bench.unit().scriptReply("2c\r", 'G'); // lower case decodes too
    bench.unit().scriptReply("?5\r", 'G'); // other characters count as zero
    await(stack.read(*bench.session, stat));

    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"G07\r", "G08\r", "G09\r", "G0A\r", "G0B\r"}));
    EXPECT_EQ(shown(), (QStringList{"44", "5", "255", "3", "66"}));
    EXPECT_EQ(stat.text(), "Read OK!");
    EXPECT_TRUE(bench.logLines().isEmpty());
}

TEST_F(ErrorStackTest, ReadWithTheUnitOffStopsAtTheFirstEntry) {
    fill({"1", "2", "3", "4", "5"});
    bench.unit().setPowered(false);
    await(stack.read(*bench.session, stat));

    EXPECT_EQ(stat.text(), "Communication error");
    EXPECT_EQ(shown(), (QStringList{"", "2", "3", "4", "5"}));
    EXPECT_EQ(bench.driver.callTexts().filter("FT_Write").size(), 1);
}

TEST_F(ErrorStackTest, ClearZeroesEveryEntryAndLeavesTheBoxes) {
    fill({"44", "0", "255", "3", "66"});
    await(stack.clear(*bench.session, stat));

    EXPECT_EQ(bench.sent(), kFullClear);
    EXPECT_EQ(stat.text(), "Programming OK!");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(memory()[0x07 + i], 0) << i;
    }
    EXPECT_EQ(shown(), (QStringList{"44", "0", "255", "3", "66"}));

    await(stack.read(*bench.session, stat));
    EXPECT_EQ(shown(), QStringList(5, "0"));
}

TEST_F(ErrorStackTest, ClearStopsAtTheFirstEntryThatFails) {
    const struct {
        std::vector<std::pair<const char*, char>> replies;
        const char* stat;
        int requests;
    } cases[] = {
        {{{"00\r", 'G'}, {"00\r", 'G'}, {"01\r", 'G'}}, "Programming error!", 9}, // entry 2 stays 1
        {{{"0\r\r", 'G'}}, "Programming error!", 3}, // value 0, but not the text "00"
        {{{"", 'I'}}, "Communication error", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requests);
        bench.wire().clear();
        for (const auto& [reply, to] : c.replies) {
            bench.unit().scriptReply(reply, to);
        }
        await(stack.clear(*bench.session, stat));
        EXPECT_EQ(stat.text(), c.stat);
        EXPECT_EQ(bench.sent(), kFullClear.mid(0, c.requests));
    }
    EXPECT_EQ(memory()[0x0A], 3) << "entries after the failure are left alone";
    EXPECT_EQ(memory()[0x0B], 66);
}

TEST(ErrorStackEnding, ClosingOrShutDownEndsTheOperationQuietly) {
    for (const bool clearing : {true, false}) {
        SCOPED_TRACE(clearing ? "window closed during clear" : "shut down during read");
        CommandBench slow{valve::sim::UnitTiming{}};
        ASSERT_TRUE(slow.connected);
        std::array<StoredText, 5> boxes;
        ErrorStack stack{{&boxes[0], &boxes[1], &boxes[2], &boxes[3], &boxes[4]}};
        StoredText stat;
        const auto done =
            start(clearing ? stack.clear(*slow.session, stat) : stack.read(*slow.session, stat));
        ASSERT_TRUE(runUntil([&] { return slow.sent().size() == 2; }));
        if (clearing) {
            stack.endOperations();
        } else {
            slow.link->shut_down();
        }
        ASSERT_TRUE(runUntil([&] { return *done; }));

        EXPECT_EQ(slow.sent().size(), 2);
        EXPECT_EQ(stat.text(), "");
        EXPECT_FALSE(slow.link->operations().busy());
    }
}

} // namespace
