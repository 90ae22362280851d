#include "panel_program.h"

#include "cli/signal_watch.h"
#include "link/ftdi_driver.h"
#include "record/event_log.h"
#include "sequencer/logind_sleep_inhibitor.h"
#include "sequencer/realtimekit_priority.h"
#include "sequencer/run_journal.h"
#include "sila/listen_options.h"
#include "ui/log_file_option.h"
#include "ui/panel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

namespace valve::app {

namespace {

// The SiLA 2 server's options, as valvectl serve has them.
struct SilaOptions {
    QCommandLineOption address{
        QStringLiteral("sila"),
        QStringLiteral("Serve the unit over SiLA 2 at PORT, HOST:PORT or [IPv6]:PORT "
                       "(loopback unless a host is given; port 0 lets the system choose)."),
        QStringLiteral("ADDRESS:PORT")};
    QCommandLineOption cert{QStringLiteral("sila-cert"),
                            QStringLiteral("The SiLA 2 server's certificate (PEM) instead of its own."),
                            QStringLiteral("FILE")};
    QCommandLineOption key{QStringLiteral("sila-key"), QStringLiteral("The key of --sila-cert (PEM)."),
                           QStringLiteral("FILE")};
    QCommandLineOption clientCa{
        QStringLiteral("sila-client-ca"),
        QStringLiteral("Admit only SiLA 2 clients with a certificate from this authority."),
        QStringLiteral("FILE")};
    QCommandLineOption insecure{QStringLiteral("sila-insecure"),
                                QStringLiteral("Plain gRPC without TLS (loopback only).")};
    QCommandLineOption open{QStringLiteral("sila-open"),
                            QStringLiteral("Admit any SiLA 2 client on a network address (TLS still).")};
};

const QCommandLineOption& resumeRunsOption() {
    static const QCommandLineOption option{
        QStringLiteral("resume-runs"),
        QStringLiteral("What to do at the start with a run of this adapter that was cut short: ask (the "
                       "default), skip (resume it, skipping missed steps), run-missed (resume it, running "
                       "missed steps at once) or never."),
        QStringLiteral("ask|skip|run-missed|never"), QStringLiteral("ask")};
    return option;
}

const SilaOptions& silaOptions() {
    static const SilaOptions options;
    return options;
}

std::optional<sila::ListenOptions> silaListen(const QCommandLineParser& parser) {
    const SilaOptions& o = silaOptions();
    if (!parser.isSet(o.address)) {
        return std::nullopt;
    }
    sila::ListenOptions listen;
    listen.address = parser.value(o.address);
    listen.certFile = parser.value(o.cert);
    listen.keyFile = parser.value(o.key);
    listen.clientCaFile = parser.value(o.clientCa);
    listen.insecure = parser.isSet(o.insecure);
    listen.open = parser.isSet(o.open);
    return listen;
}

// The window first, so that the server knows the adapter it serves; a run
// cut short is offered once the panel serves.
QCoro::Task<> startAndServe(ui::Panel& panel, std::optional<sila::ListenPlan> plan,
                            ui::ResumeRuns resumeRuns) {
    co_await panel.start();
    if (plan) {
        QString error;
        if (!panel.serveSila(*plan, &error)) {
            std::fprintf(stderr, "valve-panel: --sila: %s\n", qPrintable(error));
            QCoreApplication::exit(2);
            co_return;
        }
    }
    co_await panel.offerResume(resumeRuns);
}

} // namespace

void addPanelOptions(QCommandLineParser& options) {
    options.addHelpOption();
    options.addOption(ui::logFileOption());
    options.addOption(resumeRunsOption());
    const SilaOptions& sila = silaOptions();
    options.addOptions({sila.address, sila.cert, sila.key, sila.clientCa, sila.insecure, sila.open});
}

std::optional<int> refusedSila(const QCommandLineParser& options) {
    const auto listen = silaListen(options);
    if (!listen) {
        return std::nullopt;
    }
    const sila::CheckedListen checked = sila::checkListen(*listen);
    if (checked.plan) {
        return std::nullopt;
    }
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(checked.error));
    return 2;
}

int runPanel(const QCommandLineParser& options, link::FtdiDriver& driver) {
    if (const auto refused = refusedSila(options)) {
        return *refused;
    }
    const auto resumeRuns = ui::resumeRunsFrom(options.value(resumeRunsOption()));
    if (!resumeRuns) {
        std::fprintf(stderr, "%s: --resume-runs: %s is not ask, skip, run-missed or never\n",
                     qPrintable(QCoreApplication::applicationName()),
                     qPrintable(options.value(resumeRunsOption())));
        return 2;
    }
    const auto listen = silaListen(options);
    const std::optional<sila::ListenPlan> plan =
        listen ? sila::checkListen(*listen).plan : std::optional<sila::ListenPlan>{};
    sequencer::LogindSleepInhibitor keepAwake;
    sequencer::RealtimeKitPriority priority;
    sequencer::JournalFolder journals; // every run keeps one
    ui::Panel panel(driver, {}, {}, {.inhibitor = &keepAwake, .priority = &priority, .journals = &journals});
    // What the backend must tell the operator (an adapter the user may not
    // open, say) goes to the events log.
    driver.setDiagnosticSink([&panel](const QString& line) { panel.log().show_link_msg(line); });
    // A log-out, a kill or Ctrl-C closes the panel as its close button does:
    // the port is closed (libftdi1 hands the adapter back to ftdi_sio), the
    // socket removed, the kept log closed. A second signal ends it at once.
    // Watched before the socket exists: a client that finds it can count on this.
    cli::SignalWatch watch(
        [&panel](int signal) {
            panel.closeFor(cli::SignalWatch::name(signal));
            QCoreApplication::exit(0); // also when the window was never shown
        },
        cli::SignalWatch::Later::EndAtOnce);
    // valvectl reaches the panel through a local socket; without it the panel works on.
    if (QString error; !panel.acceptValvectl({}, &error)) {
        std::fprintf(stderr, "valvectl cannot reach this panel: %s\n", qPrintable(error));
    }
    ui::keepLogFileIfAsked(options, panel.log());
    startAndServe(panel, plan, *resumeRuns);
    const int exitCode = QApplication::exec();
    driver.setDiagnosticSink({}); // the driver outlives the panel
    return exitCode;
}

} // namespace valve::app
