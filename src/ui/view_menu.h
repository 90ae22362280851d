#pragma once

#include <QObject>
#include <QPointer>

namespace valve::link {
class UsbLink;
}

namespace valve::protocol {
class MessageBoxes;
}

namespace valve::record {
class EventLog;
}

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
    ViewMenu(MainWindow& window, link::UsbLink& link, record::EventLog& log, protocol::MessageBoxes& boxes);
    ~ViewMenu() override;

    void openTraffic();
    [[nodiscard]] TrafficWindow* trafficWindow() const;

private:
    // Asks where, then saves the events log there with the time of each line.
    void saveEventsLog();

    MainWindow& window_;
    link::UsbLink& link_;
    record::EventLog& log_;
    protocol::MessageBoxes& boxes_;
    QPointer<TrafficWindow> traffic_;
};

} // namespace valve::ui
