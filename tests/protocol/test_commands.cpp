// The queries and moves beyond what the fault matrix makes of each button.
#include "command_bench.h"
#include "protocol/query_commands.h"
#include "protocol/text_field.h"

#include <gtest/gtest.h>

using namespace valve::protocol;
using namespace valve::testing;
namespace protocol = valve::protocol;

namespace {

using Read = std::function<QCoro::Task<std::optional<int>>(Session&, TextField&)>;

TEST(QueryCommands, EachReadShowsItsReplyInItsOwnForm) {
    // Error codes are named by their value, not their digits: 44 (68) has no name and 00 is no error,
    // and neither changes anything.
    const struct {
        Read read;
        const char* reply;
        std::optional<int> value; // what the read returns
        const char* shown;        // "kept": the box is left alone
        QStringList log = {};
        QStringList boxes = {};
    } cases[] = {
        {protocol::read_status, "0C\r", 12, "12"},
        {protocol::read_status, "ff\r", 255, "255"},
        {protocol::read_cmd_mode, "05\r", 5, "Dual Pulse"},
        {protocol::read_control_method, "05\r", 5, "Dual Pulse"},
        {protocol::read_cmd_mode, "06\r", 6, "Error"},
        {protocol::read_control_method, "06\r", std::nullopt, "", {}, {"Invalid Command Mode"}},
        {protocol::read_error, "42\r", 66, "66", {"Last error: code 66 - a Valve Positioning Error"}},
        {protocol::read_error, "44\r", 68, "kept"},
        {protocol::read_error, "00\r", 0, "kept"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::fromLatin1(c.reply).trimmed().toStdString() + " shown as \"" + c.shown + '"');
        CommandBench bench;
        ASSERT_TRUE(bench.connected);
        StoredText box;
        box.setText("kept");
        bench.unit().scriptReply(c.reply);
        const std::optional<int> value = await(c.read(*bench.session, box));
        EXPECT_EQ(std::tuple(value, box.text(), bench.logLines(), bench.boxes.texts),
                  std::tuple(c.value, c.shown, c.log, c.boxes));
    }
}

TEST(PositionControl, PositionsThatDoNotFitAByteAreRefusedUnsent) {
    CommandBench bench;
    ASSERT_TRUE(bench.connected);
    EXPECT_FALSE(await(bench.session->positions.set_position(256)));
    EXPECT_FALSE(await(bench.session->positions.set_position(-1)));
    EXPECT_TRUE(bench.sent().isEmpty());
    EXPECT_EQ(bench.logLines(),
              QStringList(2, "Error - Could not set position, make sure position is valid."));
}

} // namespace
