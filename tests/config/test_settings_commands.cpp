#include "command_bench.h"
#include "config/settings_commands.h"
#include "protocol/query_commands.h"
#include "protocol/text_field.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::link::BoxAnswer;
using valve::link::BoxButtons;
using valve::protocol::Port;
using valve::protocol::StoredText;
using valve::testing::await;
using valve::testing::CommandBench;
namespace config = valve::config;

namespace {

const QString kTalkFailure = QStringLiteral("USB Error - could not talk to the device");

class FixedSelection : public config::ListSelection {
public:
    QString text;
    [[nodiscard]] QString selectedText() const override { return text; }
};

StoredText entry(const QString& text) {
    StoredText field;
    field.setText(text);
    return field;
}

class SettingsCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bench.connected); }

    CommandBench bench;
    valve::protocol::Session& session = *bench.session;
};

TEST_F(SettingsCommandsTest, ClockIsWrittenAndReadBack) {
    await(config::set_clock(session, 20));
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"I20\r", "W14\r", "G20\r"}));
    EXPECT_EQ(bench.logLines(), QStringList{"Clock speed changed!"});
    EXPECT_EQ(bench.unit().state().memory[0x20], 20);

    await(config::set_clock(session, 4));
    EXPECT_EQ(bench.sent().mid(3), (QList<QByteArray>{"I20\r", "W04\r", "G20\r"}));
    EXPECT_EQ(bench.logLines().last(), "Clock speed changed!");

    bench.unit().scriptReply("04X", 'G'); // the byte did not take
    await(config::set_clock(session, 20));
    EXPECT_EQ(bench.logLines().last(), "Programming error!");
    EXPECT_EQ(bench.probes(), 0);

    bench.unit().setPowered(false); // stops at the first missing acknowledgement
    await(config::set_clock(session, 20));
    EXPECT_EQ(bench.logLines().last(), kTalkFailure);
    EXPECT_EQ(bench.driver.callTexts().filter("FT_Write").size(), 9 + 1);
}

TEST_F(SettingsCommandsTest, BaudRateAndCommandModeFromTheLists) {
    await(config::set_baud_rate(session, 4));
    await(config::set_cmd_mode(session, 4));
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"X04\r", "F04\r"}));
    EXPECT_EQ(bench.logLines(), (QStringList{"Baud rate changed", "Command mode changed to 4"}));
    EXPECT_EQ(bench.unit().state().commandMode, 4);
    // The panel's own link goes on as before.
    StoredText status;
    await(valve::protocol::read_status(session, status));
    EXPECT_EQ(status.text(), "1");
}

TEST_F(SettingsCommandsTest, NothingPickedMeansNothingSent) {
    await(config::set_clock(session, std::nullopt));
    await(config::set_baud_rate(session, std::nullopt));
    await(config::set_cmd_mode(session, std::nullopt));
    EXPECT_EQ(bench.boxes.texts,
              (QStringList{config::kPickClockFirst, config::kPickBaudRateFirst, config::kPickCmdModeFirst}));
    EXPECT_TRUE(bench.driver.callTexts().filter("FT_Write").isEmpty());
    EXPECT_TRUE(bench.logLines().isEmpty());
}

TEST_F(SettingsCommandsTest, CommandModeByNameMapsTheTextNotThePlace) {
    FixedSelection selected;
    selected.text = "Dual Pulse";
    await(config::set_command_mode_by_name(session, selected));
    selected.text = "BCD";
    await(config::set_command_mode_by_name(session, selected));
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"F05\r", "F03\r"}));
    EXPECT_EQ(bench.logLines(),
              (QStringList{"Control method changed to Dual Pulse. Cycle power to complete change.",
                           "Control method changed to BCD. Cycle power to complete change."}));

    for (const char* text : {"", "bcd", "Pulse "}) {
        selected.text = text;
        await(config::set_command_mode_by_name(session, selected));
    }
    EXPECT_EQ(bench.boxes.texts, QStringList(3, "Invalid Command Mode"));
    EXPECT_EQ(bench.sent().size(), 2);
    EXPECT_EQ(bench.probes(), 5); // the link is checked before the name is looked at
}

TEST_F(SettingsCommandsTest, PortPositionsFromDecimalEntries) {
    await(config::set_port_position(session, Port::A, entry("12")));
    await(config::set_port_position(session, Port::B, entry("")));
    await(config::set_port_position(session, Port::C, entry("3.9 mm")));
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"A0C\r", "B00\r", "C03\r"}));
    EXPECT_EQ(bench.logLines(), (QStringList{"Port A changed", "Port B changed", "Port C changed"}));
    EXPECT_EQ(bench.probes(), 0);
}

TEST_F(SettingsCommandsTest, EntriesOutsideTheByteAreRefused) {
    await(config::set_port_position(session, Port::A, entry("256")));
    await(config::set_port_position(session, Port::B, entry("-3")));
    bench.boxes.answers = {BoxAnswer::Ok};
    await(config::set_op_mode(session, entry("1e9")));
    await(config::set_i2c_address(session, entry("1FF")));
    EXPECT_EQ(bench.boxes.texts,
              (QStringList{config::kDecimalRange, config::kDecimalRange, bench.boxes.texts.value(2),
                           config::kDecimalRange, config::kHexRange}));
    EXPECT_TRUE(bench.driver.callTexts().filter("FT_Write").isEmpty());
    EXPECT_TRUE(bench.logLines().isEmpty());
}

TEST_F(SettingsCommandsTest, OpModeAsksAfterCheckingTheLink) {
    qsizetype probesWhenAsked = -1;
    bench.boxes.onShow = [&] {
        if (probesWhenAsked < 0) {
            probesWhenAsked = bench.probes();
        }
    };
    bench.boxes.answers = {BoxAnswer::Cancel};
    await(config::set_op_mode(session, entry("7")));
    EXPECT_EQ(probesWhenAsked, 1);
    EXPECT_EQ(bench.boxes.texts,
              (QStringList{
                  "Warning - Changing the Operational Mode to an invalid number can cause your unit to stop "
                  "operating. Are you sure you want to change the Op. Mode?",
                  "Operational Mode will NOT be changed."}));
    EXPECT_EQ(bench.boxes.buttons, (std::vector<BoxButtons>{BoxButtons::OkCancel, BoxButtons::Ok}));
    EXPECT_TRUE(bench.sent().isEmpty());
    EXPECT_TRUE(bench.logLines().isEmpty());

    bench.boxes.answers = {BoxAnswer::Ok};
    await(config::set_op_mode(session, entry("")));
    EXPECT_EQ(bench.logLines(), QStringList{"Op Mode not changed - Select Valid Configuration"});
    EXPECT_TRUE(bench.sent().isEmpty());

    bench.boxes.answers = {BoxAnswer::Ok};
    await(config::set_op_mode(session, entry("7")));
    EXPECT_EQ(bench.sent(), QList<QByteArray>{"O07\r"});
    EXPECT_EQ(bench.logLines().last(), "Op Mode changed to 7. Cycle power to complete configuration change.");
    EXPECT_EQ(bench.unit().state().opMode, 7);
}

TEST_F(SettingsCommandsTest, I2cAddressIsLoggedAsTyped) {
    await(config::set_i2c_address(session, entry("5a")));
    EXPECT_EQ(bench.sent(), QList<QByteArray>{"N5A\r"});
    EXPECT_EQ(bench.logLines(), QStringList{"I2C address changed to 5a"});
    EXPECT_EQ(bench.unit().state().i2cAddress, 0x5A);
    EXPECT_EQ(bench.probes(), 1);
}

TEST_F(SettingsCommandsTest, ClockReadBackIsNeverSplitByAnotherCommand) {
    CommandBench slow(valve::sim::UnitTiming{}, 1000ms);
    ASSERT_TRUE(slow.connected);
    StoredText status;
    const StoredText portEntry = entry("9");
    auto clock = valve::testing::start(config::set_clock(*slow.session, 4));
    auto read = valve::testing::start(valve::protocol::read_status(*slow.session, status));
    auto port = valve::testing::start(config::set_port_position(*slow.session, Port::A, portEntry));
    ASSERT_TRUE(valve::testing::runUntil([&] { return *clock && *read && *port; }));
    EXPECT_EQ(slow.sent(), (QList<QByteArray>{"I20\r", "W04\r", "G20\r", "S\r", "A09\r"}));
    EXPECT_FALSE(slow.wire().interleaved());
    EXPECT_EQ(slow.logLines(), (QStringList{"Clock speed changed!", "Port A changed"}));
}

} // namespace
