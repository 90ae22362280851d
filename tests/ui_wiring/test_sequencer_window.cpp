#include "panel_rig.h"
#include "sequencer/sequencer.h"
#include "ui/routine_files.h"
#include "ui/sequencer_wiring.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace std::chrono_literals;
using valve::testing::await;
using valve::testing::runUntil;

namespace {

// The main window on a simulated unit, with the "Timed Events" tab wired. How
// a run goes is tested in tests/sequencer; here the looks and the controls.
class SequencerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(rig.startClean());
        wiring = rig.window().findChild<valve::ui::SequencerWiring*>();
        ASSERT_NE(wiring, nullptr);
        c().tabNR->setCurrentWidget(c().timedEventsPage);
    }

    const valve::ui::MainWindowControls& c() { return rig.c(); }
    void setRow(int row, const QString& time, const QString& position) {
        c().txtTime[row]->setText(time);
        c().txtPos[row]->setText(position);
    }
    // Bold number, time and position; which of the two boxes can still be edited.
    std::array<bool, 5> look(int row) {
        return {c().lblEventNo[row]->font().bold(), c().txtTime[row]->font().bold(),
                c().txtTime[row]->isEnabled(), c().txtPos[row]->font().bold(), c().txtPos[row]->isEnabled()};
    }

    valve::testing::PanelRig rig;
    valve::ui::SequencerWiring* wiring = nullptr;
};

constexpr std::array<bool, 5> kIdle{false, false, true, false, true};
constexpr std::array<bool, 5> kDone{true, true, false, true, false};
constexpr std::array<bool, 5> kCurrent{true, true, false, false, true};

TEST_F(SequencerWindowTest, ARunShowsTheRowLooksAndTheCurrentPosition) {
    setRow(0, "0", "4");
    setRow(1, "60", "5");
    c().btnRun->click();
    ASSERT_TRUE(runUntil([&] { return c().lblEventNo[1]->font().bold(); }));

    EXPECT_EQ(look(0), kDone);
    EXPECT_EQ(look(1), kCurrent); // its position can still be changed
    EXPECT_EQ(look(2), kIdle);
    EXPECT_FALSE(c().btnRun->isEnabled());
    EXPECT_TRUE(c().btnStop->isEnabled());
    EXPECT_EQ(c().position->text(), QStringLiteral("4"));

    c().btnStop->click();
    ASSERT_TRUE(runUntil([&] { return !wiring->sequencer().runUnderWay(); }));
    EXPECT_EQ(look(0), kIdle);
    EXPECT_EQ(look(1), kIdle);
    EXPECT_TRUE(c().btnRun->isEnabled());
    EXPECT_EQ(rig.log().last(), QStringLiteral("User stopped execution"));
    EXPECT_EQ(rig.sent(), (QList<QByteArray>{"P04\r", "S\r"}));
}

TEST_F(SequencerWindowTest, AFocusedBoxHasItsWholeTextSelected) {
    rig.window().activateWindow();
    ASSERT_TRUE(runUntil([&] { return rig.window().isActiveWindow(); }));
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
    rig.window().close();
    const auto sent = rig.driver.wire(0).hostBytes();
    runUntil([] { return false; }, 400ms);
    EXPECT_EQ(rig.driver.wire(0).hostBytes(), sent);
    EXPECT_TRUE(rig.boxes.texts.isEmpty());
    rig.panel.reset();
}

TEST_F(SequencerWindowTest, ARoutineFileIsTakenWholeOrNotAtAllAndSavedWholeOrNotAtAll) {
    auto* files = rig.window().findChild<valve::ui::RoutineFiles*>();
    QTemporaryDir dir;
    const QString saved = dir.filePath("week.routine");
    const QString bad = dir.filePath("bad.routine");
    QFile out(bad);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write("0,1\n5,9x\n") > 0);
    out.close();
    setRow(0, "0", "3");
    setRow(1, "2.5", "4");
    await(files->save(saved));
    const QString fifo = dir.filePath("pipe.routine");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    await(files->save(fifo)); // refused, not replaced by a regular file
    setRow(1, "60", "5");
    await(files->load(bad));
    c().btnRun->click();
    await(files->load(saved)); // the run holds the table
    c().btnStop->click();
    EXPECT_EQ(c().txtTime[1]->text(), "60"); // both loads left the table as it was
    ASSERT_TRUE(runUntil([&] { return !wiring->sequencer().runUnderWay(); }));
    c().txtTime[1]->clear();
    rig.window().findChild<QAction*>("mnuSaveRoutine")->trigger(); // refused before a name is asked for

    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "0,3\n2.5,4\n");
    ASSERT_EQ(rig.boxes.texts.size(), 4);
    EXPECT_EQ(rig.boxes.texts[0],
              "Could not save " + fifo +
                  ": not a regular file. An earlier file of that name is left as it was.");
    EXPECT_FALSE(QFileInfo(fifo).isFile());
    EXPECT_EQ(rig.boxes.texts[1], "Could not load the routine: " + bad +
                                      ", line 2: the position \"9x\" is not a number from 0 to 255. "
                                      "The table is left as it was.");
    EXPECT_TRUE(rig.boxes.texts[2].startsWith("Could not load a routine while a run holds"));
    EXPECT_EQ(rig.boxes.texts[3], "Could not save the table as a routine: event 2: a time and a position "
                                  "are both needed.");
    await(files->load(saved));
    EXPECT_EQ(c().txtTime[1]->text(), "2.5");
    EXPECT_EQ(c().txtPos[1]->text(), "4");
}

} // namespace
