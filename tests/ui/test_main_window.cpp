#include "panel_rig.h"
#include "ui/chooser_window.h"
#include "ui/events_log_view.h"
#include "ui/message_box_service.h"
#include "widget_checks.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <gtest/gtest.h>
#include <set>

namespace valve::ui {
namespace {

using namespace std::chrono_literals;
using valve::testing::PanelRig;
using valve::testing::runUntil;

// A group box shows its title, every other control its text.
QString captionOf(const QObject* control) {
    const QVariant title = control->property("title");
    return title.isValid() ? title.toString() : control->property("text").toString();
}

class MainWindowTest : public ::testing::Test {
protected:
    MainWindow& window() { return rig.window(); }
    const MainWindowControls& c() { return rig.c(); }
    // Where a control lies in the client area of the window.
    QRect inClientArea(const QWidget* widget) {
        return {widget->mapTo(window().centralWidget(), QPoint(0, 0)), widget->size()};
    }

    PanelRig rig{{}};
};

TEST_F(MainWindowTest, FrameMenuTabsAndThePlacesOfRegionsAndArrays) {
    window().show();
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Corvane Pyxa Valve Control Software"));
    EXPECT_EQ(window().centralWidget()->size(), QSize(590, 332));
    EXPECT_FALSE(window().windowIcon().isNull());
    // "About" stays first; the "View" menu stands beside it.
    const QList<QAction*> menus = window().menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0], c().mnuAbout);
    EXPECT_EQ(c().mnuAbout->menu(), nullptr);
    EXPECT_EQ(menus[1]->text(), "View");
    EXPECT_EQ(menus[1]->menu()->actions().value(1)->text(), "Save events log…");
    ASSERT_EQ(c().tabNR->count(), 3);
    EXPECT_EQ(c().tabNR->tabText(2), QStringLiteral("Timed Events"));
    EXPECT_EQ(c().tabNR->currentWidget(), c().configurationPage);

    EXPECT_EQ(inClientArea(c().tabNR), QRect(8, 8, 561, 225));
    EXPECT_EQ(inClientArea(c().Frame3), QRect(8, 240, 561, 89));
    EXPECT_EQ(c().LoggerList->size(), QSize(545, 56));
    // The frame below lies out of sight until the window is made taller; nothing moves it.
    EXPECT_EQ(inClientArea(c().frmInternal), QRect(8, 368, 577, 313));
    EXPECT_TRUE(c().frmInternal->visibleRegion().isEmpty());
    window().resize(window().width(), 720);
    EXPECT_EQ(inClientArea(c().frmInternal), QRect(8, 368, 577, 313));
    EXPECT_FALSE(c().Combo_Baud_Rate->visibleRegion().isEmpty());

    // Buttons 1-12 in four rows of three.
    EXPECT_EQ(c().pos[2]->y(), c().pos[0]->y());
    EXPECT_GT(c().pos[3]->y(), c().pos[0]->y());
    EXPECT_EQ(c().pos[11]->x(), c().pos[2]->x());
    // Timed events: columns of rows 0-6, 7-13 and 14-19 side by side.
    EXPECT_EQ(c().txtTime[5]->y(), c().txtPos[5]->y());
    EXPECT_EQ(c().txtTime[7]->y(), c().txtTime[0]->y());
    EXPECT_GT(c().txtTime[7]->x(), c().txtPos[0]->x());
    EXPECT_GT(c().txtTime[14]->x(), c().txtPos[7]->x());
    // Configuration: three frames side by side, the command-mode row below the tab's edge.
    EXPECT_LT(c().Frame7->geometry().right(), c().Frame9->x());
    EXPECT_LT(c().Frame9->geometry().right(), c().Frame8->x());
    for (QWidget* control : std::initializer_list<QWidget*>{c().cmd_cmd_mode, c().Combo_Cmd_Mode}) {
        EXPECT_NEAR(control->mapTo(c().tabNR, QPoint(0, 0)).y(), 4680 / 15, 12);
        EXPECT_TRUE(control->visibleRegion().isEmpty()) << control->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, ControlsCarryTheirNamesAndCaptions) {
    const struct {
        QObject* control;
        const char* name;
        const char* caption;
    } controls[] = {
        {&window(), "frmUSBMain", nullptr},
        {c().mnuAbout, "mnuAbout", "About"},
        {c().Frame3, "Frame3", "Events Log"},
        {c().Frame4, "Frame4", "Valve Homing"},
        {c().homing, "homing", "Home the Valve"},
        {c().Frame7, "Frame7", "NR Status "},
        {c().Frame9, "Frame9", "Change Settings"},
        {c().btnReadControl, "btnReadControl", "Read Command Mode"},
        {c().set_i2c_address, "set_i2c_address", "Set HEX I2C address"},
        {c().lstControl, "lstControl", nullptr},
        {c().cmd_fw_rev, "cmd_fw_rev", "Read Firmware  Revision"},
        {c().btnRun, "btnRun", "Run"},
        {c().frmInternal, "frmInternal",
         "Changing the clock or baud rate settings can make the valve inoperable"},
        {c().Frame2, "Frame2", "Read Custom Position"},
        {c().Command1, "Command1", "Custom Configuration"},
        {c().set_baud, "set_baud", "Set baud rate"},
    };
    for (const auto& [control, name, caption] : controls) {
        SCOPED_TRACE(name);
        EXPECT_EQ(control->objectName(), QString::fromLatin1(name));
        if (control != &window()) {
            EXPECT_EQ(window().findChild<QObject*>(QString::fromLatin1(name)), control);
        }
        if (caption != nullptr) {
            EXPECT_EQ(captionOf(control), QString::fromLatin1(caption));
        }
    }
    // Control arrays: name_index, captioned from 1.
    for (const int i : {0, 6, 11}) {
        EXPECT_EQ(c().pos[i]->objectName(), QStringLiteral("pos_%1").arg(i));
        EXPECT_EQ(c().pos[i]->text(), QString::number(i + 1));
    }
    EXPECT_EQ(c().lblEventNo[19]->objectName(), "lblEventNo_19");
    EXPECT_EQ(c().lblEventNo[19]->text(), "20");
    EXPECT_EQ(c().txtTime[13]->objectName(), "txtTime_13");
    EXPECT_EQ(c().txtPos[0]->objectName(), "txtPos_0");
    EXPECT_EQ(valve::testing::clippedCaptions(window()), QStringList{});
}

TEST_F(MainWindowTest, OnlyTheDisplayBoxesAreReadOnlyAndEveryFieldIsDescribed) {
    const std::set<QString> readOnly{"position",    "txt_status",  "txt_error",
                                     "txt_control", "txt_op_mode", "txt_fw_rev"};
    std::set<QString> names;
    for (const QLineEdit* box : window().findChildren<QLineEdit*>()) {
        if (box->parentWidget()->inherits("QComboBox")) {
            continue;
        }
        names.insert(box->objectName());
        EXPECT_EQ(box->isReadOnly(), readOnly.contains(box->objectName())) << box->objectName().toStdString();
        EXPECT_TRUE(box->text().isEmpty());
    }
    // 6 display boxes, 3 other boxes of the tabs, 40 of the table, 7 of the frame below.
    EXPECT_EQ(names.size(), 6U + 3U + 40U + 7U);
    EXPECT_EQ(c().position->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

    // Every box and list says what it shows, each in its own words.
    std::set<QString> descriptions;
    int described = 0;
    for (QWidget* widget : window().findChildren<QWidget*>()) {
        const bool isField = qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) ||
                             qobject_cast<QListWidget*>(widget);
        if (isField && !widget->parentWidget()->inherits("QComboBox")) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
            descriptions.insert(widget->accessibleName());
            ++described;
        }
    }
    EXPECT_EQ(static_cast<int>(descriptions.size()), described);
}

TEST_F(MainWindowTest, DropDownListsShowTheirPromptAndCarryTheirCodes) {
    const struct {
        QComboBox* list;
        QString prompt;
        QStringList texts;
        QList<int> codes;
    } lists[] = {
        {c().Combo_Clock, "Clock Speed", {"4 MHz", "20 MHz"}, {4, 20}},
        {c().Combo_Baud_Rate, "Baud Rate", {"9600", "19200", "38400", "57600"}, {1, 2, 3, 4}},
        {c().Combo_Cmd_Mode,
         "Cmd Mode",
         {"Level", "Pulse", "BCD", "Inverted BCD", "Dual Pulse"},
         {1, 2, 3, 4, 5}},
    };
    for (const auto& expected : lists) {
        SCOPED_TRACE(expected.list->objectName().toStdString());
        EXPECT_EQ(expected.list->currentIndex(), -1);
        EXPECT_EQ(expected.list->placeholderText(), expected.prompt);
        ASSERT_EQ(expected.list->count(), expected.texts.size());
        for (int i = 0; i < expected.list->count(); ++i) {
            EXPECT_EQ(expected.list->itemText(i), expected.texts[i]);
            EXPECT_EQ(expected.list->itemData(i).toInt(), expected.codes[i]);
        }
    }
}

TEST_F(MainWindowTest, TabOrderFollowsTheReadingOrderOfEachRegion) {
    window().show();
    std::vector<QWidget*> chain;
    QWidget* widget = c().tabNR;
    do {
        chain.push_back(widget);
        widget = widget->nextInFocusChain();
    } while (widget != c().tabNR && chain.size() < 2000);
    const auto place = [&](QWidget* w) { return std::find(chain.begin(), chain.end(), w) - chain.begin(); };

    const std::vector<QWidget*> expectedOrder = {
        c().pos[0],     c().pos[11],   c().homing,     c().cmd_status, c().lstControl, c().Combo_Cmd_Mode,
        c().txtTime[0], c().txtPos[0], c().txtTime[1], c().btnRun,     c().LoggerList, c().Combo_Baud_Rate,
    };
    for (std::size_t i = 1; i < expectedOrder.size(); ++i) {
        EXPECT_LT(place(expectedOrder[i - 1]), place(expectedOrder[i]))
            << expectedOrder[i]->objectName().toStdString();
        EXPECT_TRUE(expectedOrder[i]->focusPolicy() & Qt::TabFocus)
            << expectedOrder[i]->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, AboutBoxShowsTheVersionAndLogsNothing) {
    ASSERT_TRUE(valve::testing::await(rig.panel->start()));
    const auto linesBefore = rig.log();
    c().mnuAbout->trigger();
    EXPECT_EQ(rig.boxes.texts, QStringList{"Corvane Nerra and Pyxa USB Interface. Version E"});
    EXPECT_EQ(rig.boxes.buttons, std::vector<link::BoxButtons>{link::BoxButtons::Ok});
    EXPECT_EQ(rig.boxes.captions, QStringList{"Orlix"});
    EXPECT_EQ(rig.log(), linesBefore);
}

TEST(MainWindowClosing, ShutsEverythingDown) {
    PanelRig rig;
    ASSERT_TRUE(rig.startClean());
    ASSERT_TRUE(rig.driver.openHere(0));
    QWidget secondary;
    secondary.show();
    rig.window().closeWithMainWindow(&secondary);
    bool stepRan = false;
    rig.window().addShutDownStep([&] { stepRan = rig.panel->link().is_shut_down(); });

    EXPECT_TRUE(rig.window().close());

    EXPECT_TRUE(stepRan) << "shut-down steps run once the link is down, so what they wake sends nothing";
    EXPECT_FALSE(secondary.isVisible());
    EXPECT_EQ(rig.driver.handlesHeld(), 0U);
    const auto lines = rig.log();
    rig.panel->log().show_msg(QStringLiteral("late line"));
    EXPECT_EQ(rig.log(), lines) << "nothing is logged after shut-down";
}

TEST(MainWindowClosing, ClosesTheOpenMessageBox) {
    sim::SimulatedDriver driver;
    valve::testing::PickingChooser chooser;
    Panel panel(driver, link::LinkTiming{50ms, 20ms, 1ms}, {nullptr, &chooser});
    ASSERT_TRUE(valve::testing::await(panel.start()));
    panel.window().controls().mnuAbout->trigger();
    auto* service = dynamic_cast<MessageBoxService*>(&panel.messageBoxes());
    ASSERT_NE(service, nullptr);
    ASSERT_EQ(service->openBoxes().size(), 1U);

    panel.window().close();
    EXPECT_TRUE(runUntil([&] { return service->openBoxes().empty(); }));
    EXPECT_TRUE(service->shuttingDown());
}

TEST(MainWindowClosing, ClosingWhileTheChooserIsUpEndsTheStartQuietly) {
    sim::SimulatedDriver driver;
    driver.addAdapter("Unit A", sim::UnitTiming::instant());
    driver.addAdapter("Unit B", sim::UnitTiming::instant());
    valve::testing::ScriptedBoxes boxes;
    Panel panel(driver, link::LinkTiming{50ms, 20ms, 1ms}, {&boxes, nullptr});
    bool started = false;
    // A named closure: the running coroutine refers to its captures.
    auto startUp = [&]() -> QCoro::Task<> {
        co_await panel.start();
        started = true;
    };
    auto run = startUp();
    auto* chooser = dynamic_cast<ChooserWindow*>(&panel.chooser());
    ASSERT_NE(chooser, nullptr);
    ASSERT_TRUE(chooser->isVisible());
    const auto lines = panel.log().lines();

    panel.window().close();

    EXPECT_FALSE(chooser->isVisible());
    ASSERT_TRUE(runUntil([&] { return started; }));
    EXPECT_FALSE(panel.window().isVisible()) << "a closed program does not come back";
    EXPECT_TRUE(driver.callTexts().filter("FT_OpenEx").isEmpty());
    EXPECT_EQ(panel.log().lines(), lines);
}

} // namespace
} // namespace valve::ui
