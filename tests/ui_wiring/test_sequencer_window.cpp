#include "../protocol/command_bench.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "sequencer/sequencer.h"
#include "sim/simulated_driver.h"
#include "ui/main_window.h"
#include "ui/panel.h"
#include "ui/sequencer_wiring.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using valve::testing::runUntil;

namespace {

// The main window on a simulated unit, with the "Timed Events" tab wired.
class SequencerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver.addAdapter("NR Valve", valve::sim::UnitTiming::instant());
        panel = std::make_unique<valve::ui::Panel>(driver, valve::link::LinkTiming{150ms, 10ms, 1ms},
                                                   valve::ui::PanelPrompts{&boxes, &chooser});
        ASSERT_TRUE(valve::testing::await(panel->start()));
        wiring = panel->window().findChild<valve::ui::SequencerWiring*>();
        ASSERT_NE(wiring, nullptr);
        c().tabNR->setCurrentWidget(c().timedEventsPage);
        driver.wire(0).clear();
    }

    const valve::ui::MainWindowControls& c() { return panel->window().controls(); }
    void setRow(int row, const QString& time, const QString& position) {
        c().txtTime[row]->setText(time);
        c().txtPos[row]->setText(position);
    }
    QList<QByteArray> moves() {
        QList<QByteArray> result;
        for (const auto& line : driver.wire(0).hostLines()) {
            if (line.startsWith('P')) {
                result.append(line);
            }
        }
        return result;
    }
    bool rowIdle(int row) {
        return !c().lblEventNo[row]->font().bold() && !c().txtTime[row]->font().bold() &&
               c().txtTime[row]->isEnabled() && !c().txtPos[row]->font().bold() &&
               c().txtPos[row]->isEnabled();
    }

    valve::sim::SimulatedDriver driver;
    valve::testing::ScriptedBoxes boxes;
    valve::testing::FirstDeviceChooser chooser;
    std::unique_ptr<valve::ui::Panel> panel;
    valve::ui::SequencerWiring* wiring = nullptr;
};

TEST_F(SequencerWindowTest, ARunShowsTheRowLooksAndTheCurrentPosition) {
    setRow(0, "0", "4");
    setRow(1, "60", "5");
    c().btnRun->click();
    ASSERT_TRUE(runUntil([&] { return c().lblEventNo[1]->font().bold(); }));

    // Row 1 is done: everything bold, both boxes disabled.
    EXPECT_TRUE(c().lblEventNo[0]->font().bold());
    EXPECT_TRUE(c().txtTime[0]->font().bold());
    EXPECT_FALSE(c().txtTime[0]->isEnabled());
    EXPECT_TRUE(c().txtPos[0]->font().bold());
    EXPECT_FALSE(c().txtPos[0]->isEnabled());
    // Row 2 is current: its position can still be changed.
    EXPECT_TRUE(c().txtTime[1]->font().bold());
    EXPECT_FALSE(c().txtTime[1]->isEnabled());
    EXPECT_FALSE(c().txtPos[1]->font().bold());
    EXPECT_TRUE(c().txtPos[1]->isEnabled());
    EXPECT_TRUE(rowIdle(2));
    EXPECT_FALSE(c().btnRun->isEnabled());
    EXPECT_TRUE(c().btnStop->isEnabled());
    EXPECT_EQ(c().position->text(), QStringLiteral("4"));

    c().btnStop->click();
    ASSERT_TRUE(runUntil([&] { return !wiring->sequencer().runUnderWay(); }));
    EXPECT_TRUE(rowIdle(0));
    EXPECT_TRUE(rowIdle(1));
    EXPECT_TRUE(c().btnRun->isEnabled());
    EXPECT_EQ(panel->log().lines().last(), QStringLiteral("User stopped execution"));
    EXPECT_EQ(moves(), QList<QByteArray>{"P04\r"});
}

TEST_F(SequencerWindowTest, AFocusedBoxHasItsWholeTextSelected) {
    panel->window().activateWindow();
    ASSERT_TRUE(runUntil([&] { return panel->window().isActiveWindow(); }));
    setRow(3, "12.5", "7");
    c().txtTime[3]->setFocus(Qt::TabFocusReason);
    c().txtTime[3]->deselect();
    c().txtPos[3]->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(runUntil([&] { return c().txtPos[3]->hasFocus(); }));
    EXPECT_EQ(c().txtPos[3]->selectedText(), QStringLiteral("7"));

    // A click places the cursor after the focus has arrived; the text ends up selected all the same.
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, c().txtTime[3]->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, c().txtTime[3]->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    // As the window does it: the focus first, then the press itself.
    c().txtTime[3]->setFocus(Qt::MouseFocusReason);
    QApplication::sendEvent(c().txtTime[3], &press);
    QApplication::sendEvent(c().txtTime[3], &release);
    EXPECT_TRUE(c().txtTime[3]->selectedText().isEmpty());
    ASSERT_TRUE(runUntil([&] { return c().txtTime[3]->selectedText() == QStringLiteral("12.5"); }, 1000ms));
}

TEST_F(SequencerWindowTest, ClosingTheWindowDuringARunEndsItQuietly) {
    setRow(0, "0", "4");
    setRow(1, "0.2", "5");
    c().btnRun->click();
    ASSERT_TRUE(runUntil([&] { return c().lblEventNo[1]->font().bold(); }));
    EXPECT_TRUE(wiring->sequencer().runUnderWay());
    panel->window().close();
    const auto sent = driver.wire(0).hostBytes();
    runUntil([] { return false; }, 400ms);
    EXPECT_EQ(driver.wire(0).hostBytes(), sent);
    EXPECT_TRUE(boxes.texts.isEmpty());
    panel.reset();
}

} // namespace
