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
class RunsWindow;
class TrafficWindow;

// The main window's "View" menu, beside "About": "Traffic" (Ctrl+T) opens the
// one Traffic window or brings it to the front; "Save events log…" saves the
// events log with the time of each line; "Runs" opens the one Runs window on
// the runs' journals in `journalDir`. Both windows close with the main window.
class ViewMenu : public QObject {
    Q_OBJECT
public:
    ViewMenu(MainWindow& window, link::UsbLink& link, record::EventLog& log, protocol::MessageBoxes& boxes,
             QString journalDir);
    ~ViewMenu() override;

    void openTraffic();
    [[nodiscard]] TrafficWindow* trafficWindow() const;
    void openRuns();
    [[nodiscard]] RunsWindow* runsWindow() const;

private:
    // Asks where, then saves the events log there with the time of each line.
    void saveEventsLog();

    MainWindow& window_;
    link::UsbLink& link_;
    record::EventLog& log_;
    protocol::MessageBoxes& boxes_;
    QString journalDir_;
    QPointer<TrafficWindow> traffic_;
    QPointer<RunsWindow> runs_;
};

} // namespace valve::ui
