#include "sila_wiring.h"

#include "main_window.h"
#include "panel_remote.h"
#include "sila/sila_server.h"

#include <QMenu>
#include <QMenuBar>

namespace valve::ui {

SilaWiring::SilaWiring(MainWindow& window, PanelRemote& remote, protocol::Session& session,
                       const QString& adapter)
    : server_(std::make_unique<sila::SilaServer>(sila::ServerIdentity(adapter, sila::configDirectory()),
                                                 sila::UnitAccess{remote.core(), remote, session})) {
    if (auto* view = window.menuBar()->findChild<QMenu*>(QStringLiteral("mnuView"))) {
        view->addSeparator();
        state_ = view->addAction(menuText());
        state_->setObjectName(QStringLiteral("mnuSilaServer"));
        state_->setEnabled(false); // it tells; there is nothing to choose
    }
    connect(server_.get(), &sila::SilaServer::stateChanged, this, &SilaWiring::show);
}

SilaWiring::~SilaWiring() = default;

bool SilaWiring::start(const sila::ListenPlan& plan, QString* error) {
    return server_->start(plan, error);
}

void SilaWiring::stop() {
    server_->stop();
}

QString SilaWiring::menuText() const {
    if (!server_->running()) {
        return QStringLiteral("SiLA 2 server: off");
    }
    const std::size_t clients = server_->clients();
    return QStringLiteral("SiLA 2 server on %1 (%2), open to %3; %4 %5")
        .arg(server_->endpoint(), server_->plan().tls ? QStringLiteral("TLS") : QStringLiteral("plain gRPC"),
             server_->plan().audience())
        .arg(clients)
        .arg(clients == 1 ? QStringLiteral("client") : QStringLiteral("clients"));
}

void SilaWiring::show() {
    if (state_) {
        state_->setText(menuText());
    }
}

} // namespace valve::ui
