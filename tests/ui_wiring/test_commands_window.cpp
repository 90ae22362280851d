#include "../protocol/command_bench.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "sim/simulated_driver.h"
#include "ui/command_wiring.h"
#include "ui/main_window.h"
#include "ui/panel.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::testing::runUntil;

namespace {

// The operator steps to the next entry of a drop-down list with the arrow key.
void pressDown(QWidget* list) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(list, &press);
}

// The main window on a simulated unit, with the command handlers wired.
class CommandWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver.addAdapter("NR Valve", valve::sim::UnitTiming::instant());
        panel = std::make_unique<valve::ui::Panel>(driver, valve::link::LinkTiming{150ms, 10ms, 1ms},
                                                   valve::ui::PanelPrompts{&boxes, &chooser});
        ASSERT_TRUE(valve::testing::await(panel->start()));
        wiring = panel->window().findChild<valve::ui::CommandWiring*>();
        ASSERT_NE(wiring, nullptr);
        panel->log().clear();
        driver.wire(0).clear();
    }

    const valve::ui::MainWindowControls& c() { return panel->window().controls(); }
    QList<QByteArray> sent() { return driver.wire(0).hostLines(); }
    QStringList log() { return panel->log().lines(); }
    valve::sim::UnitState& unit() { return driver.unit(0).state(); }
    // Clicks and lets the command run until `lines` requests have gone out
    // and the link is free again.
    void click(QPushButton* button, qsizetype lines) {
        button->click();
        ASSERT_TRUE(runUntil([&] { return sent().size() >= lines && !panel->link().operations().busy(); }));
    }

    valve::sim::SimulatedDriver driver;
    valve::testing::ScriptedBoxes boxes;
    valve::testing::FirstDeviceChooser chooser;
    std::unique_ptr<valve::ui::Panel> panel;
    valve::ui::CommandWiring* wiring = nullptr;
};

TEST_F(CommandWindowTest, ReadButtonsFillTheirBoxes) {
    unit().position = 12;
    unit().revision = 'A';
    click(c().cmd_status, 1);
    click(c().cmd_fw_rev, 2);
    click(c().cmd_clock, 3);
    unit().portPositions = {7, 8, 9};
    click(c().cmd_pos_b, 4);
    EXPECT_EQ(c().txt_status->text(), "12");
    EXPECT_EQ(c().txt_fw_rev->text(), "Rev.A Nerra");
    EXPECT_EQ(c().txt_clock->text(), " 20 MHz");
    EXPECT_EQ(c().txt_pos_b->text(), "8");
    EXPECT_EQ(sent(), (QList<QByteArray>{"S\r", "R\r", "G20\r", "2\r"}));
}

TEST_F(CommandWindowTest, PositionButtonIsTheIndexPlusOne) {
    click(c().pos[6], 2);
    EXPECT_EQ(c().position->text(), "7");
    EXPECT_EQ(log(), QStringList{"Position set to 7"});
    click(c().homing, 4);
    EXPECT_EQ(c().position->text(), "1");
    EXPECT_EQ(sent(), (QList<QByteArray>{"P07\r", "S\r", "M\r", "S\r"}));
}

TEST_F(CommandWindowTest, ListPicksAreHeldUntilTheSetButton) {
    c().set_clock->click();
    ASSERT_TRUE(runUntil([&] { return !boxes.texts.isEmpty(); }));
    EXPECT_TRUE(sent().isEmpty()) << "nothing picked yet";

    pressDown(c().Combo_Clock);
    pressDown(c().Combo_Clock); // "20 MHz"
    EXPECT_EQ(wiring->clock_val(), std::optional<std::uint8_t>{20});
    EXPECT_TRUE(sent().isEmpty());
    click(c().set_clock, 3);
    EXPECT_EQ(sent(), (QList<QByteArray>{"I20\r", "W14\r", "G20\r"}));

    c().Combo_Baud_Rate->activated(3); // "57600"
    click(c().set_baud, 4);
    pressDown(c().Combo_Cmd_Mode); // "Level"
    click(c().set_cmd_mode, 5);
    EXPECT_EQ(sent().mid(3), (QList<QByteArray>{"X04\r", "F01\r"}));
    EXPECT_EQ(log(), (QStringList{"Clock speed changed!", "Baud rate changed", "Command mode changed to 1"}));
}

TEST_F(CommandWindowTest, SetCommandModeUsesTheSelectedName) {
    c().lstControl->setCurrentRow(1); // "BCD", the second entry
    click(c().set_command, 1);
    EXPECT_EQ(sent(), QList<QByteArray>{"F03\r"});
    EXPECT_EQ(log(), QStringList{"Control method changed to BCD. Cycle power to complete change."});

    c().lstControl->clearSelection();
    c().set_command->click();
    ASSERT_TRUE(runUntil([&] { return !boxes.texts.isEmpty(); }));
    EXPECT_EQ(boxes.texts, QStringList{"Invalid Command Mode"});
    EXPECT_EQ(sent().size(), 1);
}

TEST_F(CommandWindowTest, EntriesAreSentAndLoggedAsTyped) {
    c().txt_set_pos_a->setText("12");
    click(c().set_pos_a, 1);
    c().txt_set_i2c_address->setText("5a");
    click(c().set_i2c_address, 2);
    c().txt_set_op_mode->setText("7");
    boxes.answers = {valve::link::BoxAnswer::Ok};
    click(c().set_op_mode, 3);
    EXPECT_EQ(sent(), (QList<QByteArray>{"A0C\r", "N5A\r", "O07\r"}));
    EXPECT_EQ(log(), (QStringList{"Port A changed", "I2C address changed to 5a",
                                  "Op Mode changed to 7. Cycle power to complete configuration change."}));

    c().txt_set_pos_c->setText("300");
    c().set_pos_c->click();
    ASSERT_TRUE(runUntil([&] { return boxes.texts.size() == 2; }));
    EXPECT_EQ(boxes.texts.last(), "Please enter a whole number from 0 to 255.");
    EXPECT_EQ(sent().size(), 3);
}

TEST_F(CommandWindowTest, ClicksDuringAWaitQueueBehindIt) {
    driver.unit(0).delayReplies(60ms, 1);
    c().cmd_status->click();
    c().cmd_op_mode->click();
    c().pos[2]->click();
    ASSERT_TRUE(runUntil([&] { return sent().size() == 4 && !panel->link().operations().busy(); }));
    EXPECT_EQ(sent(), (QList<QByteArray>{"S\r", "Q\r", "P03\r", "S\r"}));
    EXPECT_FALSE(driver.wire(0).interleaved());
    EXPECT_EQ(c().txt_status->text(), "1");
    EXPECT_EQ(c().position->text(), "3");
}

} // namespace
