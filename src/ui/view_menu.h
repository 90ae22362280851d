#pragma once

#include <QObject>
#include <QPointer>
#include <qcoro/qcorotask.h>

namespace valve::link {
class EventLog;
class MessageBoxes;
class UsbLink;
} // namespace valve::link

namespace valve::ui {

class MainWindow;
class TrafficWindow;

// The main window's "View" menu, beside "About": "Traffic" (Ctrl+T) opens the
// one Traffic window or brings it to the front; "Save events log…" saves the
// events log with the time of each line. The Traffic window closes with the
// main window.
class ViewMenu : public QObject {
    Q_OBJECT
public:
    ViewMenu(MainWindow& window, link::UsbLink& link, link::EventLog& log, link::MessageBoxes& boxes);
    ~ViewMenu() override;

    void openTraffic();
    [[nodiscard]] TrafficWindow* trafficWindow() const;
    // Saves the events log to `path`; a failure is told in a message box.
    QCoro::Task<> saveEventsLogTo(QString path);

private:
    QCoro::Task<> saveEventsLog();

    MainWindow& window_;
    link::UsbLink& link_;
    link::EventLog& log_;
    link::MessageBoxes& boxes_;
    QPointer<TrafficWindow> traffic_;
};

} // namespace valve::ui
