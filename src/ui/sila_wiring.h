#pragma once

#include "sila/listen_options.h"

#include <QObject>
#include <QPointer>
#include <memory>

class QAction;

namespace valve::protocol {
struct Session;
}

namespace valve::sila {
class SilaServer;
}

namespace valve::ui {

class MainWindow;
class PanelRemote;

// The panel's SiLA 2 server, on the command core the local socket uses, and
// its line in the View menu ("mnuSilaServer"): on or off, where it listens,
// who may connect and how many clients it has.
class SilaWiring : public QObject {
    Q_OBJECT
public:
    SilaWiring(MainWindow& window, PanelRemote& remote, protocol::Session& session, const QString& adapter);
    ~SilaWiring() override;

    // Starts the server; false, with the reason in `error`, when it cannot.
    bool start(const sila::ListenPlan& plan, QString* error);
    void stop();
    [[nodiscard]] sila::SilaServer& server() { return *server_; }
    // The View menu's text for the server's state.
    [[nodiscard]] QString menuText() const;

private:
    void show();

    std::unique_ptr<sila::SilaServer> server_;
    QPointer<QAction> state_;
};

} // namespace valve::ui
