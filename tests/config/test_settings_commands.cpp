// The settings commands beyond what the fault matrix makes of each button.
#include "command_bench.h"
#include "config/settings_commands.h"
#include "protocol/text_field.h"

#include <gtest/gtest.h>

using namespace valve::protocol;
using namespace valve::testing;
namespace config = valve::config;

namespace {

// What the operator typed or picked: an entry, a selected name, or the code of a list entry.
struct Typed : StoredText, config::ListSelection {
    [[nodiscard]] QString selectedText() const override { return text(); }
    [[nodiscard]] std::optional<std::uint8_t> code() const {
        return text().isEmpty() ? std::nullopt : std::optional<std::uint8_t>(text().toInt());
    }
};
using Command = std::function<QCoro::Task<bool>(Session&, const Typed&)>;

const QString kQuestion =
    QStringLiteral("Warning - Changing the Operational Mode to an invalid number can cause "
                   "your unit to stop operating. Are you sure you want to change the Op. Mode?");
const QString kNotChanged = QStringLiteral("Operational Mode will NOT be changed.");
const QString kNoOpMode = QStringLiteral("Op Mode not changed - Select Valid Configuration");

struct Case {
    const char* name;
    Command command;
    QString typed;
    QList<QByteArray> sent;
    QStringList log;
    QStringList boxes;
    int checks; // link checks before the first box, or in all when none is shown
    std::deque<BoxAnswer> answers = {};
    bool closedDuringBox = false; // the program closes while the first box is up, and the box with it
};

const Command setClock = [](Session& s, const Typed& t) { return config::set_clock(s, t.code()); };
const Command setBaud = [](Session& s, const Typed& t) { return config::set_baud_rate(s, t.code()); };
const Command setCmdMode = [](Session& s, const Typed& t) { return config::set_cmd_mode(s, t.code()); };
const Command setPort = [](Session& s, const Typed& t) { return config::set_port_position(s, Port::A, t); };
const Command setByName = [](Session& s, const Typed& t) { return config::set_command_mode_by_name(s, t); };
const Command setOpMode = [](Session& s, const Typed& t) { return config::set_op_mode(s, t); };
const Command setI2c = [](Session& s, const Typed& t) { return config::set_i2c_address(s, t); };

TEST(SettingsCommands, SendWhatWasPickedOrTypedAndRefuseTheRest) {
    const Case cases[] = {
        {"baud code 4", setBaud, "4", {"X04\r"}, {"Baud rate changed"}, {}, 0},
        {"no clock picked", setClock, "", {}, {}, {config::kPickClockFirst}, 0},
        {"no baud picked", setBaud, "", {}, {}, {config::kPickBaudRateFirst}, 0},
        {"no cmd mode picked", setCmdMode, "", {}, {}, {config::kPickCmdModeFirst}, 0},
        {"no name", setByName, "", {}, {}, {"Invalid Command Mode"}, 1},
        {"bcd", setByName, "bcd", {}, {}, {"Invalid Command Mode"}, 1},
        {"Pulse and a blank", setByName, "Pulse ", {}, {}, {"Invalid Command Mode"}, 1},
        {"port A empty", setPort, "", {"A00\r"}, {"Port A changed"}, {}, 0},
        {"port A 256", setPort, "256", {}, {}, {config::kDecimalRange}, 0},
        {"op mode cancelled", setOpMode, "7", {}, {}, {kQuestion, kNotChanged}, 1, {BoxAnswer::Cancel}},
        {"op mode empty", setOpMode, "", {}, {kNoOpMode}, {kQuestion}, 1},
        {"op mode, closed meanwhile", setOpMode, "7", {}, {}, {kQuestion}, 1, {BoxAnswer::Cancel}, true},
        {"op mode 1e9", setOpMode, "1e9", {}, {}, {kQuestion, config::kDecimalRange}, 1},
        {"i2c 1FF", setI2c, "1FF", {}, {}, {config::kHexRange}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CommandBench bench;
        ASSERT_TRUE(bench.connected);
        bench.boxes.answers = c.answers;
        qsizetype checks = -1;
        bench.boxes.onShow = [&] {
            checks = checks < 0 ? bench.probes() : checks;
            if (c.closedDuringBox) {
                bench.link->shut_down();
            }
        };
        Typed typed;
        typed.setText(c.typed);
        await(c.command(*bench.session, typed));
        EXPECT_EQ(std::tuple(bench.sent(), bench.logLines(), bench.boxes.texts),
                  std::tuple(c.sent, c.log, c.boxes));
        EXPECT_EQ(checks < 0 ? bench.probes() : checks, c.checks);
        // The panel's own link stays as it is, after a baud rate change too.
        EXPECT_TRUE(bench.driver.callTexts().filter("FT_SetBaudRate").isEmpty());
        for (std::size_t i = 0; i < bench.boxes.buttons.size(); ++i) { // only the question can be cancelled
            EXPECT_EQ(bench.boxes.buttons[i] == BoxButtons::OkCancel, bench.boxes.texts[i] == kQuestion);
        }
    }
}

} // namespace
