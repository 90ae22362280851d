#include "view_menu.h"

#include "link/usb_link.h"
#include "main_window.h"
#include "record/event_log_file.h"
#include "runs_window.h"
#include "save_dialog.h"
#include "traffic_window.h"

#include <QMenuBar>

namespace valve::ui {

ViewMenu::ViewMenu(MainWindow& window, link::UsbLink& link, record::EventLog& log,
                   protocol::MessageBoxes& boxes, QString journalDir)
    : QObject(&window), window_(window), link_(link), log_(log), boxes_(boxes),
      journalDir_(std::move(journalDir)) {
    // Added after "About", so that it stays first where it always was.
    QMenu* menu = window_.menuBar()->addMenu(QStringLiteral("View"));
    menu->setObjectName(QStringLiteral("mnuView"));
    QAction* traffic = menu->addAction(QStringLiteral("Traffic"), this, &ViewMenu::openTraffic);
    traffic->setObjectName(QStringLiteral("mnuTraffic"));
    traffic->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    QAction* saveLog = menu->addAction(QStringLiteral("Save events log…"), this, &ViewMenu::saveEventsLog);
    saveLog->setObjectName(QStringLiteral("mnuSaveEventsLog"));
    QAction* runs = menu->addAction(QStringLiteral("Runs"), this, &ViewMenu::openRuns);
    runs->setObjectName(QStringLiteral("mnuRuns"));
}

ViewMenu::~ViewMenu() {
    delete traffic_.data();
    delete runs_.data();
}

namespace {

// Brings a window that is open already to the front; false when there is none.
bool bringToFront(QWidget* window) {
    if (window == nullptr) {
        return false;
    }
    if (window->isMinimized()) {
        window->showNormal();
    }
    window->raise();
    window->activateWindow();
    return true;
}

} // namespace

TrafficWindow* ViewMenu::trafficWindow() const {
    return traffic_;
}

void ViewMenu::openTraffic() {
    if (bringToFront(traffic_)) {
        return;
    }
    traffic_ = new TrafficWindow(link_.traffic(), boxes_);
    window_.closeWithMainWindow(traffic_);
    traffic_->show();
}

RunsWindow* ViewMenu::runsWindow() const {
    return runs_;
}

void ViewMenu::openRuns() {
    if (bringToFront(runs_)) {
        return;
    }
    runs_ = new RunsWindow(journalDir_, boxes_);
    window_.closeWithMainWindow(runs_);
    runs_->show();
}

void ViewMenu::saveEventsLog() {
    askAndSave(
        &window_, QStringLiteral("Save events log"), QStringLiteral("events-log.txt"),
        QStringLiteral("Text files (*.txt *.log);;All files (*)"),
        [&log = log_](const QString& path) { return record::saveEventsLog(log, path); }, boxes_);
}

} // namespace valve::ui
