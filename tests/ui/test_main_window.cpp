#include "coro_test.h"
#include "fakes.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "ui/chooser_window.h"
#include "ui/events_log_view.h"
#include "ui/main_window.h"
#include "ui/message_box_service.h"
#include "ui/panel.h"
#include "widget_checks.h"

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
using valve::testing::runUntil;
using valve::ui::testing::FakeDriver;
using valve::ui::testing::PickingChooser;
using valve::ui::testing::RecordingMessageBoxes;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() : panel(driver, link::LinkTiming{50ms, 20ms, 1ms}, {&boxes, &chooser}) {}

    MainWindow& window() { return panel.window(); }
    const MainWindowControls& c() { return panel.window().controls(); }
    // Where a control lies in the client area of the window.
    QRect inClientArea(const QWidget* widget) {
        return {widget->mapTo(window().centralWidget(), QPoint(0, 0)), widget->size()};
    }

    FakeDriver driver;
    RecordingMessageBoxes boxes;
    PickingChooser chooser;
    Panel panel;
};

TEST_F(MainWindowTest, FrameMenuAndTabs) {
    window().show();
    EXPECT_EQ(window().objectName(), QStringLiteral("frmUSBMain"));
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Corvane Pyxa Valve Control Software"));
    EXPECT_EQ(window().centralWidget()->size(), QSize(590, 332));
    EXPECT_FALSE(window().windowIcon().isNull());

    const auto actions = window().menuBar()->actions();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions.front(), c().mnuAbout);
    EXPECT_EQ(c().mnuAbout->objectName(), QStringLiteral("mnuAbout"));
    EXPECT_EQ(c().mnuAbout->text(), QStringLiteral("About"));
    EXPECT_EQ(c().mnuAbout->menu(), nullptr);

    EXPECT_EQ(inClientArea(c().tabNR), QRect(8, 8, 561, 225));
    ASSERT_EQ(c().tabNR->count(), 3);
    EXPECT_EQ(c().tabNR->tabText(0), QStringLiteral("Position Control"));
    EXPECT_EQ(c().tabNR->tabText(1), QStringLiteral("Configuration"));
    EXPECT_EQ(c().tabNR->tabText(2), QStringLiteral("Timed Events"));
    EXPECT_EQ(c().tabNR->currentWidget(), c().configurationPage);

    EXPECT_EQ(c().Frame3->title(), QStringLiteral("Events Log"));
    EXPECT_EQ(inClientArea(c().Frame3), QRect(8, 240, 561, 89));
    EXPECT_EQ(c().LoggerList->size(), QSize(545, 56));
    EXPECT_EQ(c().LoggerList->parentWidget(), c().Frame3);
}

TEST_F(MainWindowTest, InternalFrameLiesBelowTheClientAreaUntilTheWindowIsMadeTaller) {
    window().show();
    EXPECT_EQ(c().frmInternal->title(),
              QStringLiteral("Changing the clock or baud rate settings can make the valve inoperable"));
    EXPECT_EQ(inClientArea(c().frmInternal), QRect(8, 368, 577, 313));
    EXPECT_TRUE(c().frmInternal->visibleRegion().isEmpty());
    EXPECT_LT(window().minimumSizeHint().height(), window().height()) << "nothing forces the window taller";

    window().resize(window().width(), 720);
    EXPECT_EQ(inClientArea(c().frmInternal), QRect(8, 368, 577, 313)) << "nothing moves it";
    EXPECT_FALSE(c().frmInternal->visibleRegion().isEmpty());
    EXPECT_FALSE(c().Combo_Baud_Rate->visibleRegion().isEmpty());
}

TEST_F(MainWindowTest, PositionControlTab) {
    EXPECT_EQ(c().Picture1->objectName(), QStringLiteral("Picture1"));
    EXPECT_EQ(c().Picture1->size(), QSize(166, 149));
    EXPECT_EQ(c().Frame6->title(), QStringLiteral("Change Position"));
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(c().pos[i]->objectName(), QStringLiteral("pos_%1").arg(i));
        EXPECT_EQ(c().pos[i]->text(), QString::number(i + 1));
        EXPECT_EQ(c().pos[i]->parentWidget(), c().Frame6);
        // Four rows of three: same row as the first of its three, below the one above.
        EXPECT_EQ(c().pos[i]->y(), c().pos[i - i % 3]->y());
        if (i >= 3) {
            EXPECT_GT(c().pos[i]->y(), c().pos[i - 3]->y());
            EXPECT_EQ(c().pos[i]->x(), c().pos[i - 3]->x());
        }
    }
    EXPECT_EQ(c().Frame5->title(), QStringLiteral("Current Position"));
    EXPECT_TRUE(c().position->isReadOnly());
    EXPECT_EQ(c().position->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_DOUBLE_EQ(c().position->font().pointSizeF(), 13.5);
    EXPECT_EQ(c().Frame4->title(), QStringLiteral("Valve Homing"));
    EXPECT_EQ(c().homing->text(), QStringLiteral("Home the Valve"));
}

TEST_F(MainWindowTest, ConfigurationTabWithItsRowOutOfSight) {
    window().show();
    EXPECT_EQ(c().Frame7->title(), QStringLiteral("NR Status "));
    EXPECT_EQ(c().Frame9->title(), QStringLiteral("Change Settings"));
    EXPECT_EQ(c().Frame8->title(), QStringLiteral("Advanced"));
    EXPECT_EQ(c().cmd_fw_rev->text(), QStringLiteral("Read Firmware  Revision"));
    EXPECT_EQ(c().btnReadControl->text(), QStringLiteral("Read Command Mode"));
    EXPECT_EQ(c().set_i2c_address->text(), QStringLiteral("Set HEX I2C address"));
    // The three frames stand side by side.
    EXPECT_EQ(c().Frame7->y(), c().Frame9->y());
    EXPECT_LT(c().Frame7->geometry().right(), c().Frame9->x());
    EXPECT_LT(c().Frame9->geometry().right(), c().Frame8->x());

    for (QWidget* control : std::initializer_list<QWidget*>{c().cmd_cmd_mode, c().txt_cmd_mode,
                                                            c().set_cmd_mode, c().Combo_Cmd_Mode}) {
        const int top = control->mapTo(c().tabNR, QPoint(0, 0)).y();
        EXPECT_NEAR(top, 4680 / 15, 12) << control->objectName().toStdString();
        EXPECT_GT(top, c().tabNR->height());
        EXPECT_TRUE(control->visibleRegion().isEmpty()) << control->objectName().toStdString();
    }
    EXPECT_EQ(c().cmd_cmd_mode->text(), QStringLiteral("Read Cmd Mode"));
    EXPECT_EQ(c().set_cmd_mode->text(), QStringLiteral("Set Cmd Mode"));
}

TEST_F(MainWindowTest, OnlyTheDisplayBoxesAreReadOnlyAndAllStartEmpty) {
    const std::set<QString> readOnly{QStringLiteral("position"),    QStringLiteral("txt_status"),
                                     QStringLiteral("txt_error"),   QStringLiteral("txt_control"),
                                     QStringLiteral("txt_op_mode"), QStringLiteral("txt_fw_rev")};
    const auto boxes = window().findChildren<QLineEdit*>();
    std::set<QString> names;
    for (const QLineEdit* box : boxes) {
        if (box->parentWidget() != nullptr && box->parentWidget()->inherits("QComboBox")) {
            continue;
        }
        names.insert(box->objectName());
        EXPECT_EQ(box->isReadOnly(), readOnly.contains(box->objectName())) << box->objectName().toStdString();
        EXPECT_TRUE(box->text().isEmpty());
        EXPECT_TRUE(box->isEnabled());
    }
    // 6 display boxes, 3 other boxes of the tabs, 40 of the table, 7 of the frame below.
    EXPECT_EQ(names.size(), 6U + 3U + 40U + 7U);
}

TEST_F(MainWindowTest, DropDownListsShowTheirPromptAndCarryTheirCodes) {
    struct Expected {
        QComboBox* list;
        QString prompt;
        QStringList texts;
        QList<int> codes;
    };
    const Expected lists[] = {
        {c().Combo_Clock,
         QStringLiteral("Clock Speed"),
         {QStringLiteral("4 MHz"), QStringLiteral("20 MHz")},
         {4, 20}},
        {c().Combo_Baud_Rate,
         QStringLiteral("Baud Rate"),
         {QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"), QStringLiteral("57600")},
         {1, 2, 3, 4}},
        {c().Combo_Cmd_Mode,
         QStringLiteral("Cmd Mode"),
         {QStringLiteral("Level"), QStringLiteral("Pulse"), QStringLiteral("BCD"),
          QStringLiteral("Inverted BCD"), QStringLiteral("Dual Pulse")},
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
    EXPECT_EQ(c().lstControl->count(), 0) << "filled at start-up, not before";
}

TEST_F(MainWindowTest, TimedEventsTable) {
    for (int row = 0; row < 20; ++row) {
        EXPECT_EQ(c().lblEventNo[row]->objectName(), QStringLiteral("lblEventNo_%1").arg(row));
        EXPECT_EQ(c().lblEventNo[row]->text(), QString::number(row + 1));
        EXPECT_EQ(c().txtTime[row]->objectName(), QStringLiteral("txtTime_%1").arg(row));
        EXPECT_EQ(c().txtPos[row]->objectName(), QStringLiteral("txtPos_%1").arg(row));
        EXPECT_EQ(c().txtTime[row]->y(), c().txtPos[row]->y());
        EXPECT_LT(c().txtTime[row]->x(), c().txtPos[row]->x());
    }
    // Column groups of rows 0-6, 7-13 and 14-19, side by side.
    EXPECT_EQ(c().txtTime[6]->x(), c().txtTime[0]->x());
    EXPECT_GT(c().txtTime[7]->x(), c().txtPos[0]->x());
    EXPECT_EQ(c().txtTime[7]->y(), c().txtTime[0]->y());
    EXPECT_EQ(c().txtTime[14]->y(), c().txtTime[0]->y());
    EXPECT_GT(c().txtTime[14]->x(), c().txtPos[7]->x());
    EXPECT_EQ(c().txtTime[19]->x(), c().txtTime[14]->x());

    const auto headings = c().timedEventsPage->findChildren<QLabel*>();
    EXPECT_EQ(std::count_if(headings.begin(), headings.end(),
                            [](const QLabel* l) { return l->text() == QStringLiteral("Time (s)"); }),
              3);
    EXPECT_EQ(std::count_if(headings.begin(), headings.end(),
                            [](const QLabel* l) { return l->text() == QStringLiteral("Position"); }),
              3);
    for (const QFrame* line : c().Line) {
        ASSERT_NE(line, nullptr);
        EXPECT_TRUE(line->frameShape() == QFrame::HLine || line->frameShape() == QFrame::VLine);
    }
    EXPECT_EQ(c().btnRun->text(), QStringLiteral("Run"));
    EXPECT_EQ(c().btnStop->text(), QStringLiteral("Stop"));
}

TEST_F(MainWindowTest, EveryControlCanBeFoundByItsNameAndIsDescribed) {
    const std::pair<const char*, QObject*> named[] = {
        {"cmd_status", c().cmd_status},
        {"txt_status", c().txt_status},
        {"cmd_error", c().cmd_error},
        {"txt_error", c().txt_error},
        {"btnReadControl", c().btnReadControl},
        {"txt_control", c().txt_control},
        {"set_i2c_address", c().set_i2c_address},
        {"txt_set_i2c_address", c().txt_set_i2c_address},
        {"set_command", c().set_command},
        {"lstControl", c().lstControl},
        {"cmd_op_mode", c().cmd_op_mode},
        {"txt_op_mode", c().txt_op_mode},
        {"cmd_fw_rev", c().cmd_fw_rev},
        {"txt_fw_rev", c().txt_fw_rev},
        {"set_op_mode", c().set_op_mode},
        {"txt_set_op_mode", c().txt_set_op_mode},
        {"Frame1", c().Frame1},
        {"Frame2", c().Frame2},
        {"set_pos_a", c().set_pos_a},
        {"txt_set_pos_c", c().txt_set_pos_c},
        {"cmd_pos_b", c().cmd_pos_b},
        {"txt_pos_c", c().txt_pos_c},
        {"Command1", c().Command1},
        {"cmd_clock", c().cmd_clock},
        {"txt_clock", c().txt_clock},
        {"set_clock", c().set_clock},
        {"Combo_Clock", c().Combo_Clock},
        {"set_baud", c().set_baud},
        {"Combo_Baud_Rate", c().Combo_Baud_Rate},
        {"btnRun", c().btnRun},
        {"tabNR", c().tabNR},
        {"frmInternal", c().frmInternal},
    };
    for (const auto& [name, control] : named) {
        EXPECT_EQ(window().findChild<QObject*>(QString::fromLatin1(name)), control) << name;
    }
    EXPECT_EQ(c().Command1->text(), QStringLiteral("Custom Configuration"));
    EXPECT_EQ(c().set_baud->text(), QStringLiteral("Set baud rate"));
    EXPECT_EQ(c().Frame2->title(), QStringLiteral("Read Custom Position"));

    // Every box and list says what it shows, each in its own words.
    std::set<QString> descriptions;
    int described = 0;
    for (QWidget* widget : window().findChildren<QWidget*>()) {
        const bool isField = qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) ||
                             qobject_cast<QListWidget*>(widget) || qobject_cast<EventsLogView*>(widget);
        if (!isField || widget->parentWidget()->inherits("QComboBox")) {
            continue;
        }
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
        descriptions.insert(widget->accessibleName());
        ++described;
    }
    EXPECT_EQ(static_cast<int>(descriptions.size()), described);
}

TEST_F(MainWindowTest, EveryCaptionFitsItsButton) {
    EXPECT_EQ(valve::testing::clippedCaptions(window()), QStringList{});
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
        c().pos[0],      c().pos[1],          c().pos[11],        c().homing,          c().cmd_status,
        c().txt_status,  c().cmd_error,       c().btnReadControl, c().set_i2c_address, c().lstControl,
        c().cmd_op_mode, c().txt_set_op_mode, c().cmd_cmd_mode,   c().Combo_Cmd_Mode,  c().txtTime[0],
        c().txtPos[0],   c().txtTime[1],      c().txtPos[19],     c().btnRun,          c().btnStop,
        c().LoggerList,  c().set_pos_a,       c().cmd_pos_c,      c().Command1,        c().Combo_Baud_Rate,
    };
    for (std::size_t i = 1; i < expectedOrder.size(); ++i) {
        EXPECT_LT(place(expectedOrder[i - 1]), place(expectedOrder[i]))
            << expectedOrder[i - 1]->objectName().toStdString() << " before "
            << expectedOrder[i]->objectName().toStdString();
    }
    for (QWidget* control : expectedOrder) {
        EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << control->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, AboutBoxShowsTheVersionAndLogsNothing) {
    ASSERT_TRUE(valve::testing::await(panel.start()));
    const auto linesBefore = panel.log().lines();
    c().mnuAbout->trigger();
    ASSERT_EQ(boxes.shown.size(), 1U);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Corvane Nerra and Pyxa USB Interface. Version E"));
    EXPECT_EQ(boxes.shown[0].buttons, link::BoxButtons::Ok);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Orlix"));
    EXPECT_EQ(panel.log().lines(), linesBefore);
}

TEST_F(MainWindowTest, ClosingShutsEverythingDown) {
    driver.adapters = {{"Valve unit"}};
    ASSERT_TRUE(valve::testing::await(panel.start()));
    ASSERT_EQ(driver.opened.size(), 1U);
    QWidget secondary;
    secondary.show();
    window().closeWithMainWindow(&secondary);
    bool stepRan = false;
    window().addShutDownStep([&] { stepRan = !panel.link().is_shut_down(); });

    EXPECT_TRUE(window().close());

    EXPECT_TRUE(stepRan) << "shut-down steps run before the link goes down";
    EXPECT_FALSE(window().isVisible());
    EXPECT_FALSE(secondary.isVisible());
    EXPECT_TRUE(panel.link().is_shut_down());
    EXPECT_EQ(driver.closed, std::vector<link::FtHandle>{FakeDriver::kHandle});
    const auto lines = panel.log().lines();
    panel.log().show_msg(QStringLiteral("late line"));
    EXPECT_EQ(panel.log().lines(), lines) << "nothing is logged after shut-down";
}

TEST(MainWindowShutDown, ClosesTheOpenMessageBox) {
    FakeDriver driver;
    PickingChooser chooser;
    Panel panel(driver, link::LinkTiming{50ms, 20ms, 1ms}, {nullptr, &chooser});
    ASSERT_TRUE(valve::testing::await(panel.start()));
    panel.window().controls().mnuAbout->trigger();
    auto* servicePointer = dynamic_cast<MessageBoxService*>(&panel.messageBoxes());
    ASSERT_NE(servicePointer, nullptr);
    auto& service = *servicePointer;
    ASSERT_EQ(service.openBoxes().size(), 1U);
    QMessageBox* about = service.openBoxes().front();
    EXPECT_EQ(about->text(), QStringLiteral("Corvane Nerra and Pyxa USB Interface. Version E"));

    panel.window().close();
    EXPECT_TRUE(runUntil([&] { return service.openBoxes().empty(); }));
    EXPECT_TRUE(service.shuttingDown());
}

TEST(MainWindowShutDown, ClosingWhileTheChooserIsUpEndsTheStartQuietly) {
    FakeDriver driver;
    driver.adapters = {{"Unit A"}, {"Unit B"}};
    RecordingMessageBoxes boxes;
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
    EXPECT_TRUE(driver.opened.empty());
    EXPECT_EQ(panel.log().lines(), lines);
}

} // namespace
} // namespace valve::ui
