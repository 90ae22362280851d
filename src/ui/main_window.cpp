#include "main_window.h"

#include "artwork.h"
#include "control_factory.h"
#include "events_log_view.h"
#include "link/usb_link.h"
#include "main_window_parts.h"
#include "protocol/message_boxes.h"
#include "protocol/unit_terms.h"
#include "record/event_log.h"
#include "twips.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeySequence>
#include <QListWidget>
#include <QMenuBar>
#include <QTabWidget>
#include <qcoro/qcorotask.h>

namespace valve::ui {

namespace {
constexpr int kClientWidth = 8850;
constexpr int kClientHeight = 4980;

// A fire-and-forget coroutine for a menu handler: it runs until its own end.
QCoro::Task<> showAbout(protocol::MessageBoxes& boxes, QString version) {
    co_await boxes.message_box(QStringLiteral("Corvane Nerra and Pyxa USB Interface. Version ") + version,
                               protocol::BoxButtons::Ok, protocol::kApplicationTitle);
}
} // namespace

MainWindow::MainWindow(record::EventLog& log, link::UsbLink& link, protocol::MessageBoxes& boxes,
                       QWidget* parent)
    : QMainWindow(parent), log_(log), link_(link), boxes_(boxes) {
    setObjectName(QStringLiteral("frmUSBMain"));
    setWindowTitle(QStringLiteral("Corvane Pyxa Valve Control Software"));
    setWindowIcon(valveIcon());
    buildMenu();
    buildClientArea();
    controls_.LoggerList->follow(log_);
    // The designed client area below the menu bar; the window stays resizable
    // and may be made taller to bring frmInternal into view.
    resize(px(kClientWidth), px(kClientHeight) + menuBar()->sizeHint().height());
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenu() {
    controls_.mnuAbout = menuBar()->addAction(QStringLiteral("About"));
    controls_.mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
    // The menu bar is not in the tab chain; F1 reaches the About box too.
    controls_.mnuAbout->setShortcut(QKeySequence::HelpContents);
    connect(controls_.mnuAbout, &QAction::triggered, this, &MainWindow::mnuAbout_Click);
}

void MainWindow::buildClientArea() {
    // Children are placed at fixed places, and frmInternal lies beyond the
    // initial size: no layout, and no minimum that would force the window taller.
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setMinimumSize(0, 0);
    setCentralWidget(client);

    auto& c = controls_;
    c.tabNR = new QTabWidget(client);
    c.tabNR->setObjectName(QStringLiteral("tabNR"));
    c.tabNR->setGeometry(twipRect(120, 120, 8415, 3375));
    const auto addPage = [&](const QString& name, const QString& caption) {
        auto* page = new QWidget;
        page->setObjectName(name);
        c.tabNR->addTab(page, caption);
        return page;
    };
    c.positionPage = addPage(QStringLiteral("positionPage"), QStringLiteral("Position Control"));
    c.configurationPage = addPage(QStringLiteral("configurationPage"), QStringLiteral("Configuration"));
    c.timedEventsPage = addPage(QStringLiteral("timedEventsPage"), QStringLiteral("Timed Events"));
    buildPositionTab(c.positionPage, c);
    buildConfigurationTab(c.configurationPage, c);
    buildTimedEventsTab(c.timedEventsPage, c);
    c.tabNR->setCurrentWidget(c.configurationPage);

    c.Frame3 = makeFrame(client, QStringLiteral("Frame3"), QStringLiteral("Events Log"),
                         twipRect(120, 3600, 8415, 1335));
    c.LoggerList = new EventsLogView(c.Frame3);
    c.LoggerList->setGeometry(twipRect(120, 330, 8175, 840));

    buildInternalFrame(client, c);
}

void MainWindow::fill_control_list() {
    // Not in the order of the codes: Set Command Mode goes by the picked name's text.
    for (const int code : {1, 3, 4, 2, 5}) {
        controls_.lstControl->addItem(protocol::commandModeName(code));
    }
}

void MainWindow::mnuAbout_Click() {
    showAbout(boxes_, program_version_);
}

void MainWindow::closeWithMainWindow(QWidget* window) {
    secondary_windows_.emplace_back(window);
}

void MainWindow::addShutDownStep(std::function<void()> step) {
    shut_down_steps_.push_back(std::move(step));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Never refuses: the program ends with this window.
    if (!shut_down_) {
        shut_down_ = true;
        // The log and the link close first: operations that the shut-down
        // wakes, here or when their boxes and windows close below, end
        // without a line and send nothing.
        log_.close();
        link_.shut_down();
        for (const auto& step : shut_down_steps_) {
            step();
        }
        for (const auto& window : secondary_windows_) {
            if (window) {
                window->close();
            }
        }
    }
    event->accept();
}

} // namespace valve::ui
