#include "panel_rig.h"
#include "ui/chooser_window.h"
#include "ui/events_log_view.h"
#include "ui/message_box_service.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QSet>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace valve::ui {
namespace {

using namespace std::chrono_literals;
using namespace valve::testing;

// The panel started without a unit, its Custom Configuration window open, and a chooser beside it.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&rig.panel->log(), &record::EventLog::lineAppended,
                         [this] { linesWhileShown += window().isVisible() ? 1 : 0; });
        ASSERT_TRUE(await(rig.panel->start()));
        c().Command1->click();
        roots = {&window(), openForms().value(0), &chooser};
        ASSERT_NE(roots[1], nullptr);
    }
    MainWindow& window() { return rig.window(); }
    const MainWindowControls& c() { return rig.c(); }
    QObject* find(const QString& name) {
        for (QWidget* root : roots) {
            if (QObject* found = root->objectName() == name ? root : root->findChild<QObject*>(name)) {
                return found;
            }
        }
        return nullptr;
    }

    PanelRig rig{{}};
    ChooserWindow chooser;
    QList<QWidget*> roots;
    int linesWhileShown = 0;
};

// A window shows its title, a group box its title, every other control its text.
QString captionOf(const QObject* control) {
    if (const auto* widget = qobject_cast<const QWidget*>(control); widget && widget->isWindow()) {
        return widget->windowTitle();
    }
    const QVariant title = control->property("title");
    return title.isValid() ? title.toString() : control->property("text").toString();
}

// A control's place in its parent; a window's: its client area.
QRect placeOf(const QWidget* widget) {
    const auto* main = qobject_cast<const QMainWindow*>(widget);
    return widget->isWindow() ? QRect(QPoint(), (main ? main->centralWidget() : widget)->size())
                              : widget->geometry();
}

TEST_F(MainWindowTest, ControlsCarryTheirNamesCaptionsAndPlacesBesideTheMenusAndTabs) {
    const struct {
        const char* name;
        const char* caption; // none: not checked
        QRect place;         // empty: not checked
    } controls[] = {
        {"frmUSBMain", "Corvane Pyxa Valve Control Software", {0, 0, 590, 332}},
        {"mnuAbout", "About", {}},
        {"tabNR", nullptr, {8, 8, 561, 225}},
        {"Frame3", "Events Log", {8, 240, 561, 89}},
        {"LoggerList", nullptr, {8, 22, 545, 56}},
        {"frmInternal",
         "Changing the clock or baud rate settings can make the valve inoperable",
         {8, 368, 577, 313}},
        {"Frame4", "Valve Homing", {410, 92, 138, 94}},
        {"homing", "Home the Valve", {12, 30, 114, 40}},
        {"pos_0", "1", {12, 24, 52, 30}}, // four rows of three
        {"pos_11", "12", {136, 138, 52, 30}},
        {"Frame7", "NR Status ", {8, 6, 176, 182}},
        {"Frame9", "Change Settings", {190, 6, 170, 182}},
        {"btnReadControl", "Read Command Mode", {}},
        {"set_i2c_address", "Set HEX I2C address", {}},
        {"cmd_fw_rev", "Read Firmware  Revision", {}},
        {"cmd_cmd_mode", nullptr, {8, 287, 100, 24}}, // below the tab's edge
        {"Combo_Cmd_Mode", nullptr, {356, 288, 130, 22}},
        {"txtTime_0", nullptr, {34, 28, 72, 20}}, // columns of rows 0-6, 7-13, 14-19
        {"txtTime_14", nullptr, {400, 28, 72, 20}},
        {"lblEventNo_19", "20", {374, 133, 22, 20}},
        {"btnRun", "Run", {400, 156, 72, 24}},
        {"Frame2", "Read Custom Position", {216, 22, 200, 120}},
        {"Command1", "Custom Configuration", {422, 30, 149, 36}},
        {"set_baud", "Set baud rate", {16, 220, 110, 26}},
        {"Form2", "Custom Configuration", {0, 0, 583, 166}},
        {"MSFlexGrid1", nullptr, {8, 64, 566, 38}},
        {"err_stack_4", nullptr, {408, 128, 57, 25}},
        {"FormChoosePort", "Choose USB Serial Port", {0, 0, 213, 110}},
        {"CommandOk", "OK", {64, 72, 81, 33}},
    };
    for (const auto& [name, caption, place] : controls) {
        SCOPED_TRACE(name);
        const QObject* control = find(QString::fromLatin1(name));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(caption ? captionOf(control) : QString(), QString::fromLatin1(caption));
        EXPECT_EQ(place.isEmpty() ? QRect() : placeOf(qobject_cast<const QWidget*>(control)), place);
    }
    const QList<QAction*> menus = window().menuBar()->actions(); // "About" first, "View" beside it
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0], c().mnuAbout);
    EXPECT_EQ(menus[1]->text(), "View");
    EXPECT_EQ(c().tabNR->tabText(2), "Timed Events");
    EXPECT_EQ(c().tabNR->currentWidget(), c().configurationPage);
    // The command-mode row lies below the tab's edge, frmInternal below the client area until the
    // window is made taller; nothing moves it.
    EXPECT_TRUE(c().cmd_cmd_mode->visibleRegion().isEmpty());
    EXPECT_TRUE(c().Combo_Cmd_Mode->visibleRegion().isEmpty());
    EXPECT_TRUE(c().frmInternal->visibleRegion().isEmpty());
    window().resize(window().width(), 720);
    EXPECT_EQ(placeOf(c().frmInternal), QRect(8, 368, 577, 313));
    EXPECT_FALSE(c().Combo_Baud_Rate->visibleRegion().isEmpty());
}

// The prompt, then each entry with the code it stands for.
QString entriesOf(const QComboBox* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) {
        entries << list->itemText(i) + "=" + list->itemData(i).toString();
    }
    return list->placeholderText() + ": " + entries.join(", ") + (list->currentIndex() < 0 ? "" : " picked");
}

TEST_F(MainWindowTest, StartsWithoutAUnitQuietlyWithOnlyTheDisplayBoxesReadOnlyAndNoListPicked) {
    EXPECT_EQ(rig.log(), QStringList({"Error - Could not find any Nerra Devices through USB",
                                      "Could not connect to Nerra using USB"}));
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(linesWhileShown, 0) << "logged before the window appears";
    c().mnuAbout->trigger();
    EXPECT_EQ(rig.boxes.texts + rig.boxes.captions,
              QStringList({"Corvane Nerra and Pyxa USB Interface. Version E", "Orlix"}));
    EXPECT_EQ(rig.log().size(), 2) << "About logs nothing";
    const QSet<QString> readOnly{"position",    "txt_status",  "txt_error",
                                 "txt_control", "txt_op_mode", "txt_fw_rev"};
    qsizetype boxes = 0;
    for (const QLineEdit* box : window().findChildren<QLineEdit*>()) {
        if (!box->parentWidget()->inherits("QComboBox")) {
            ++boxes;
            EXPECT_EQ(box->isReadOnly(), readOnly.contains(box->objectName()))
                << box->objectName().toStdString();
        }
    }
    EXPECT_EQ(boxes, 6 + 3 + 40 + 7); // display boxes, other boxes of the tabs, the table, frmInternal
    EXPECT_EQ(entriesOf(c().Combo_Clock), "Clock Speed: 4 MHz=4, 20 MHz=20");
    EXPECT_EQ(entriesOf(c().Combo_Baud_Rate), "Baud Rate: 9600=1, 19200=2, 38400=3, 57600=4");
    EXPECT_EQ(entriesOf(c().Combo_Cmd_Mode),
              "Cmd Mode: Level=1, Pulse=2, BCD=3, Inverted BCD=4, Dual Pulse=5");
    QStringList commandModes;
    for (int i = 0; i < c().lstControl->count(); ++i) {
        commandModes << c().lstControl->item(i)->text();
    }
    EXPECT_EQ(commandModes, QStringList({"Level", "BCD", "Inverted BCD", "Pulse", "Dual Pulse"}));
    EXPECT_EQ(c().lstControl->currentRow(), -1);
}

TEST(MainWindowClosing, ClosesTheChooserAndTheOpenBoxAndEndsTheStartQuietly) {
    sim::SimulatedDriver driver;
    driver.addAdapter("Unit A", sim::UnitTiming::instant());
    driver.addAdapter("Unit B", sim::UnitTiming::instant());
    Panel panel(driver, link::LinkTiming{50ms, 20ms, 1ms});
    bool started = false;
    auto startUp = [&]() -> QCoro::Task<> { // named: the running coroutine refers to its captures
        co_await panel.start();
        started = true;
    };
    auto run = startUp();
    auto* chooser = dynamic_cast<ChooserWindow*>(&panel.chooser());
    auto* boxes = dynamic_cast<MessageBoxService*>(&panel.messageBoxes());
    ASSERT_TRUE(chooser && boxes && chooser->isVisible());
    panel.window().controls().mnuAbout->trigger();
    ASSERT_EQ(boxes->openBoxes().size(), 1U);
    const QStringList lines = panel.log().lines();

    panel.window().close();

    EXPECT_FALSE(chooser->isVisible());
    ASSERT_TRUE(runUntil([&] { return started && boxes->openBoxes().empty(); }));
    EXPECT_TRUE(boxes->shuttingDown());
    EXPECT_FALSE(panel.window().isVisible()) << "a closed program does not come back";
    EXPECT_TRUE(driver.callTexts().filter("FT_OpenEx").isEmpty());
    EXPECT_EQ(panel.log().lines(), lines);
}

TEST(ChooserWindow, WaitsForTheOperatorAndGivesTheSelectionOnOkOrOnClosing) {
    ChooserWindow chooser;
    std::optional<QByteArray> chosen;
    auto first = into(chooser.choose({"Adapter A", "Adapter B", "Adapter C"}), chosen);
    ASSERT_TRUE(chooser.isVisible());
    EXPECT_EQ(chooser.windowModality(), Qt::ApplicationModal);
    chooser.comboPort()->setCurrentIndex(2);
    chooser.commandOk()->click();
    ASSERT_TRUE(runUntil([&] { return chosen.has_value(); }));
    EXPECT_EQ(*chosen, "Adapter C");
    EXPECT_FALSE(chooser.isVisible());

    chosen.reset();
    auto second = into(chooser.choose({"Adapter D", "Adapter E"}), chosen);
    EXPECT_FALSE(chosen.has_value()) << "the caller waits until the window closes";
    chooser.close(); // nothing touched: the first entry of the new list
    ASSERT_TRUE(runUntil([&] { return chosen.has_value(); }));
    EXPECT_EQ(*chosen, "Adapter D");
}

TEST(MessageBoxService, ABoxIsPlainAndModalAndAnswersByHowItWasClosed) {
    using protocol::BoxAnswer;
    using protocol::BoxButtons;
    const QStringList resumeShowDismiss{"Resume", "Show", "Dismiss"};
    const QStringList skipRunNow{"Skip", "Run now"};
    const struct {
        BoxButtons buttons;
        QStringList labels; // the first is the default button; the platform orders the rest
        QString clicked;    // empty: closed by the window
        BoxAnswer answer;
    } cases[] = {{BoxButtons::Ok, {"OK"}, "OK", BoxAnswer::Ok},
                 {BoxButtons::Ok, {"OK"}, {}, BoxAnswer::Cancel},
                 {BoxButtons::OkCancel, {"OK", "Cancel"}, "OK", BoxAnswer::Ok},
                 {BoxButtons::OkCancel, {"OK", "Cancel"}, "Cancel", BoxAnswer::Cancel},
                 {BoxButtons::ResumeShowDismiss, resumeShowDismiss, "Resume", BoxAnswer::Resume},
                 {BoxButtons::ResumeShowDismiss, resumeShowDismiss, "Show", BoxAnswer::Show},
                 {BoxButtons::ResumeShowDismiss, resumeShowDismiss, "Dismiss", BoxAnswer::Dismiss},
                 {BoxButtons::ResumeShowDismiss, resumeShowDismiss, {}, BoxAnswer::Cancel},
                 {BoxButtons::SkipRunNow, skipRunNow, "Run now", BoxAnswer::RunNow},
                 {BoxButtons::SkipRunNow, skipRunNow, {}, BoxAnswer::Skip}};
    MessageBoxService service;
    for (const auto& [buttons, labels, clicked, expected] : cases) {
        SCOPED_TRACE(clicked.toStdString());
        std::optional<BoxAnswer> answer;
        auto run = into(service.message_box("Invalid Command Mode", buttons, "Data Error"), answer);
        ASSERT_EQ(service.openBoxes().size(), 1U);
        QMessageBox* box = service.openBoxes().front();
        EXPECT_EQ(box->text() + " / " + box->windowTitle(), "Invalid Command Mode / Data Error");
        QStringList shown;
        QAbstractButton* toClick = nullptr;
        for (QAbstractButton* button : box->buttons()) {
            shown << button->text().remove(u'&');
            toClick = shown.last() == clicked ? button : toClick;
        }
        EXPECT_EQ(QSet<QString>(shown.begin(), shown.end()), QSet<QString>(labels.begin(), labels.end()));
        EXPECT_EQ(box->defaultButton()->text().remove(u'&'), labels.first());
        EXPECT_EQ(std::tuple(box->icon(), box->windowModality()),
                  std::tuple(QMessageBox::NoIcon, Qt::ApplicationModal));
        EXPECT_FALSE(answer.has_value()) << "the caller waits for the operator";
        toClick == nullptr ? void(box->close()) : toClick->click();
        ASSERT_TRUE(runUntil([&] { return answer.has_value(); }));
        EXPECT_EQ(*answer, expected);
    }
    EXPECT_TRUE(service.openBoxes().empty());
}

TEST(EventsLogView, FollowsTheLogToItsBoundAndSelectsAndShowsEachNewLine) {
    record::EventLog log;
    log.show_msg("held before");
    EventsLogView view;
    view.follow(log);
    EXPECT_EQ(view.currentRow(), 0);
    for (int i = 1; i < 32767 + 5; ++i) {
        log.show_msg(QStringLiteral("line %1").arg(i));
    }
    ASSERT_EQ(view.count(), 32767);

    view.show();
    view.selectRow(3); // the operator looks at an older line
    view.verticalScrollBar()->setValue(0);
    log.show_msg("newest");
    EXPECT_EQ(view.line(0), "line 6");
    const auto selected = view.selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.front().row(), view.currentRow());
    EXPECT_EQ(selected.front().data().toString(), "newest");
    EXPECT_TRUE(view.viewport()->rect().contains(view.visualRect(selected.front())));
    log.clear();
    EXPECT_EQ(view.count(), 0);
}

} // namespace
} // namespace valve::ui
