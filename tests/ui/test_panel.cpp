#include "panel_rig.h"
#include "ui/events_log_view.h"

#include <QEvent>
#include <QListWidget>
#include <gtest/gtest.h>

namespace valve::ui {
namespace {

using valve::testing::PanelRig;

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

// The panel on these adapters, watching what the log holds when the window appears.
struct WatchedStart {
    explicit WatchedStart(const QList<QByteArray>& adapters) : rig(adapters) {
        watcher.log = rig.c().LoggerList;
        rig.window().installEventFilter(&watcher);
    }
    bool run() { return valve::testing::await(rig.panel->start()); }
    PanelRig rig;
    ShowWatcher watcher;
};

TEST(PanelStart, WithoutAUnitTheWindowOpensWithBothFailureLines) {
    WatchedStart start({});
    ASSERT_TRUE(start.run());
    EXPECT_EQ(start.rig.log(), QStringList({"Error - Could not find any Nerra Devices through USB",
                                            "Could not connect to Nerra using USB"}));
    EXPECT_TRUE(start.rig.window().isVisible());
    EXPECT_EQ(start.watcher.linesWhenShown, 2) << "the lines are in the log before the window appears";
    EXPECT_EQ(start.rig.window().program_version(), QStringLiteral("E"));
    EXPECT_TRUE(start.rig.chooser.offered.empty());
}

TEST(PanelStart, TwoFreeUnitsAskTheOperatorBeforeTheWindowAppears) {
    WatchedStart start({"Unit A", "Unit busy", "Unit B"});
    start.rig.driver.setOpenElsewhere(1, true);
    start.rig.chooser.pick = 1;
    ASSERT_TRUE(start.run());
    ASSERT_EQ(start.rig.chooser.offered.size(), 1U);
    EXPECT_EQ(start.rig.chooser.offered[0], QList<QByteArray>({"Unit A", "Unit B"}));
    EXPECT_TRUE(start.rig.driver.openHere(2));
    EXPECT_TRUE(start.rig.log().contains(QStringLiteral("Selected Unit B")));
    EXPECT_FALSE(start.rig.log().contains(QStringLiteral("Could not connect to Nerra using USB")));
    EXPECT_EQ(start.watcher.linesWhenShown, start.rig.log().size());
}

TEST(PanelStart, CommandModeListIsFilledInItsDisplayOrderWithNothingPicked) {
    PanelRig rig;
    ASSERT_TRUE(rig.startClean());
    const QListWidget* list = rig.c().lstControl;
    QStringList names;
    for (int i = 0; i < list->count(); ++i) {
        names << list->item(i)->text();
    }
    EXPECT_EQ(names, QStringList({"Level", "BCD", "Inverted BCD", "Pulse", "Dual Pulse"}));
    EXPECT_EQ(list->currentRow(), -1);
}

} // namespace
} // namespace valve::ui
