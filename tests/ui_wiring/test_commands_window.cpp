#include "panel_rig.h"
#include "ui/command_wiring.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::testing::runUntil;

namespace {

// The main window on a simulated unit, with the command handlers wired. What
// each command does is tested in tests/protocol and tests/config; here only
// that each control reaches its command and shows its result.
class CommandWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rig.startClean()); }
    const valve::ui::MainWindowControls& c() { return rig.c(); }
    QList<QByteArray> sent() { return rig.sent(); }

    valve::testing::PanelRig rig;
};

TEST_F(CommandWindowTest, ReadButtonsFillTheirBoxes) {
    rig.unit().position = 12;
    rig.unit().revision = 'A';
    rig.unit().portPositions = {7, 8, 9};
    ASSERT_TRUE(rig.click(c().cmd_status, 1));
    ASSERT_TRUE(rig.click(c().cmd_fw_rev, 2));
    ASSERT_TRUE(rig.click(c().cmd_clock, 3));
    ASSERT_TRUE(rig.click(c().cmd_pos_b, 4));
    EXPECT_EQ(c().txt_status->text(), "12");
    EXPECT_EQ(c().txt_fw_rev->text(), "Rev.A Nerra");
    EXPECT_EQ(c().txt_clock->text(), " 20 MHz");
    EXPECT_EQ(c().txt_pos_b->text(), "8");
    EXPECT_EQ(sent(), (QList<QByteArray>{"S\r", "R\r", "G20\r", "2\r"}));
}

TEST_F(CommandWindowTest, PositionButtonIsTheIndexPlusOne) {
    ASSERT_TRUE(rig.click(c().pos[6], 2));
    EXPECT_EQ(c().position->text(), "7");
    EXPECT_EQ(rig.log(), QStringList{"Position set to 7"});
    ASSERT_TRUE(rig.click(c().homing, 4));
    EXPECT_EQ(c().position->text(), "1");
    EXPECT_EQ(sent(), (QList<QByteArray>{"P07\r", "S\r", "M\r", "S\r"}));
}

TEST_F(CommandWindowTest, ListPicksAreHeldUntilTheSetButton) {
    // The operator steps to "20 MHz" with the arrow key.
    for (int i = 0; i < 2; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QCoreApplication::sendEvent(c().Combo_Clock, &press);
    }
    EXPECT_TRUE(sent().isEmpty());
    ASSERT_TRUE(rig.click(c().set_clock, 3));
    c().Combo_Baud_Rate->activated(3); // "57600"
    ASSERT_TRUE(rig.click(c().set_baud, 4));
    c().Combo_Cmd_Mode->activated(0); // "Level"
    ASSERT_TRUE(rig.click(c().set_cmd_mode, 5));
    EXPECT_EQ(sent(), (QList<QByteArray>{"I20\r", "W14\r", "G20\r", "X04\r", "F01\r"}));
}

TEST_F(CommandWindowTest, EntriesAndTheListSelectionAreSentAsTyped) {
    c().txt_set_pos_a->setText("12");
    ASSERT_TRUE(rig.click(c().set_pos_a, 1));
    c().txt_set_i2c_address->setText("5a");
    ASSERT_TRUE(rig.click(c().set_i2c_address, 2));
    c().txt_set_op_mode->setText("7");
    ASSERT_TRUE(rig.click(c().set_op_mode, 3));
    c().lstControl->setCurrentRow(1); // "BCD", the second entry
    ASSERT_TRUE(rig.click(c().set_command, 4));
    EXPECT_EQ(sent(), (QList<QByteArray>{"A0C\r", "N5A\r", "O07\r", "F03\r"}));
    EXPECT_EQ(rig.log().first(), "Port A changed");

    c().lstControl->clearSelection();
    c().set_command->click();
    ASSERT_TRUE(runUntil([&] { return rig.boxes.texts.size() == 2; })); // the op-mode warning, then this
    EXPECT_EQ(rig.boxes.texts.last(), "Invalid Command Mode");
}

TEST_F(CommandWindowTest, ClicksDuringAWaitQueueBehindIt) {
    rig.driver.unit(0).delayReplies(60ms, 1);
    c().cmd_status->click();
    c().cmd_op_mode->click();
    c().pos[2]->click();
    ASSERT_TRUE(runUntil([&] { return sent().size() == 4 && rig.idle(); }));
    EXPECT_EQ(sent(), (QList<QByteArray>{"S\r", "Q\r", "P03\r", "S\r"}));
    EXPECT_FALSE(rig.driver.wire(0).interleaved());
    EXPECT_EQ(c().txt_status->text(), "1");
    EXPECT_EQ(c().position->text(), "3");
}

} // namespace
