#include "coro_test.h"
#include "fakes.h"
#include "link/event_log.h"
#include "ui/events_log_view.h"
#include "ui/main_window.h"
#include "ui/panel.h"

#include <QEvent>
#include <QListWidget>
#include <gtest/gtest.h>

namespace valve::ui {
namespace {

using namespace std::chrono_literals;
using valve::ui::testing::FakeDriver;
using valve::ui::testing::PickingChooser;
using valve::ui::testing::RecordingMessageBoxes;

// Records how many log lines the window shows at the moment it is first shown.
class ShowWatcher : public QObject {
public:
    int linesWhenShown = -1;
    const EventsLogView* log = nullptr;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && linesWhenShown < 0) {
            linesWhenShown = log->count();
        }
        return QObject::eventFilter(watched, event);
    }
};

class PanelTest : public ::testing::Test {
protected:
    PanelTest() : panel(driver, link::LinkTiming{50ms, 20ms, 1ms}, {&boxes, &chooser}) {
        watcher.log = panel.window().controls().LoggerList;
        panel.window().installEventFilter(&watcher);
    }
    QStringList lines() { return panel.log().lines(); }

    FakeDriver driver;
    RecordingMessageBoxes boxes;
    PickingChooser chooser;
    Panel panel;
    ShowWatcher watcher;
};

TEST_F(PanelTest, WithoutAUnitTheWindowOpensWithBothFailureLines) {
    ASSERT_TRUE(valve::testing::await(panel.start()));
    EXPECT_EQ(lines(), QStringList({QStringLiteral("Error - Could not find any Nerra Devices through USB"),
                                    QStringLiteral("Could not connect to Nerra using USB")}));
    EXPECT_TRUE(panel.window().isVisible());
    EXPECT_EQ(watcher.linesWhenShown, 2) << "the lines are in the log before the window appears";
    EXPECT_EQ(panel.window().program_version(), QStringLiteral("E"));
    EXPECT_TRUE(chooser.offered.empty());
}

TEST_F(PanelTest, TwoUnitsAskTheOperatorBeforeTheWindowAppears) {
    driver.adapters = {{"Unit A"}, {"Unit busy", true}, {"Unit B"}};
    chooser.pick = 1;
    ASSERT_TRUE(valve::testing::await(panel.start()));
    ASSERT_EQ(chooser.offered.size(), 1U);
    EXPECT_EQ(chooser.offered[0], QList<QByteArray>({"Unit A", "Unit B"}));
    ASSERT_EQ(driver.opened.size(), 1U);
    EXPECT_EQ(driver.opened[0], QByteArray("Unit B"));
    EXPECT_TRUE(lines().contains(QStringLiteral("Selected Unit B")));
    EXPECT_FALSE(lines().contains(QStringLiteral("Could not connect to Nerra using USB")));
    EXPECT_EQ(watcher.linesWhenShown, lines().size());
}

TEST_F(PanelTest, CommandModeListIsFilledInItsDisplayOrder) {
    ASSERT_TRUE(valve::testing::await(panel.start()));
    const QListWidget* list = panel.window().controls().lstControl;
    QStringList names;
    for (int i = 0; i < list->count(); ++i) {
        names << list->item(i)->text();
    }
    EXPECT_EQ(names,
              QStringList({QStringLiteral("Level"), QStringLiteral("BCD"), QStringLiteral("Inverted BCD"),
                           QStringLiteral("Pulse"), QStringLiteral("Dual Pulse")}));
    EXPECT_EQ(list->currentRow(), -1) << "nothing picked for the operator";
}

} // namespace
} // namespace valve::ui
