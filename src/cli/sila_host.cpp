#include "sila_host.h"

#include "commands/command_core.h"
#include "commands/routine_run.h"
#include "link/usb_link.h"
#include "local_unit.h"
#include "options.h"
#include "record/event_log.h"
#include "signal_watch.h"
#include "sila/sila_server.h"
#include "sim/simulated_driver.h"

#include <QTimer>
#include <cstdio>
#include <qcoro/qcorosignal.h>

namespace valve::cli {

namespace {

using namespace std::chrono_literals;

// "--sim-fault unplug" while serving: the adapter goes this long after the
// start, and the link finds it again as the panel does.
constexpr auto kServeUnplugAfter = 500ms;

void printLine(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

sila::ListenOptions listenOptions(const Options& options) {
    sila::ListenOptions listen;
    listen.address = options.sila;
    listen.certFile = options.silaCert;
    listen.keyFile = options.silaKey;
    listen.clientCaFile = options.silaClientCa;
    listen.insecure = options.silaInsecure;
    listen.open = options.silaOpen;
    return listen;
}

// Ends the wait below on the first SIGTERM, SIGINT or SIGHUP.
class Ending : public QObject {
    Q_OBJECT
public:
    Ending()
        : watch_([this](int signal) {
              printLine(
                  QStringLiteral("valvectl: %1: stopping the SiLA 2 server").arg(SignalWatch::name(signal)));
              emit ended();
          }) {}

signals:
    void ended();

private:
    SignalWatch watch_;
};

} // namespace

QCoro::Task<int> serveSila(const Options& options, link::FtdiDriver& driver, sim::SimulatedDriver* sim,
                           QByteArray description) {
    const sila::CheckedListen checked = sila::checkListen(listenOptions(options));
    if (!checked.plan) {
        printLine(QStringLiteral("valvectl: ") + checked.error);
        co_return 2;
    }
    Ending ending;
    LocalUnit unit(driver, description, {}, false);
    QObject::connect(&unit.log(), &record::EventLog::lineAppended, &ending,
                     [](const QString& text) { printLine(text); });
    const bool opened = co_await unit.open();
    if (!opened) {
        printLine(QStringLiteral("valvectl: the adapter could not be opened"));
        co_return 1;
    }
    commands::LocalRoutines routines(unit.session(), unit.boxes());
    commands::CommandCore core(unit.session(), routines, commands::CommandCore::Announce::InLog);
    sila::SilaServer server(
        sila::ServerIdentity(QString::fromLocal8Bit(description), sila::configDirectory()),
        {core, routines, unit.session()});
    QObject::connect(&server, &sila::SilaServer::message, &ending,
                     [](const QString& line) { printLine(QStringLiteral("valvectl: ") + line); });
    QString error;
    if (!server.start(*checked.plan, &error)) {
        printLine(QStringLiteral("valvectl: ") + error);
        co_return 2;
    }
    if (sim != nullptr && options.simFault == QLatin1String("unplug")) {
        QTimer::singleShot(kServeUnplugAfter, &ending, [sim] { sim->unplug(0); });
    }
    co_await qCoro(&ending, &Ending::ended);
    server.stop();
    unit.close();
    printLine(QStringLiteral("valvectl: the SiLA 2 server has stopped and the adapter is closed"));
    co_return 0;
}

} // namespace valve::cli

#include "sila_host.moc"
