#pragma once

// How often the whole panel wakes a second while it waits for nothing: the
// demo (the panel on the simulated unit) measured here, in a child process;
// and beside it the panel holding a real adapter (QEMU's FTDI chip through
// libftdi1 and the system's libusb, under Debian's kernel), as the last run
// of the real-stack test left it in its cache folder, when there is one.
#include "bench_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace valve::bench {

// Where the real-stack test keeps what it fetched and measured.
inline QString realStackCache() {
    if (const QString set = qEnvironmentVariable("VALVE_REALSTACK_CACHE"); !set.isEmpty()) {
        return set;
    }
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty()) {
        base = QDir::homePath() + QStringLiteral("/.cache");
    }
    return base + QStringLiteral("/valve-panel/realstack");
}

class PanelIdleBench {
public:
    static constexpr int kIdleSeconds = 10;

    // False (with a note on stderr) when the demo did not come up.
    bool report(Report& report) {
        const bool measured = measureDemo(report);
        addRealStack(report);
        return measured;
    }

private:
    static bool measureDemo(Report& report) {
        // A runtime folder of its own, so that a panel the user runs keeps its socket.
        QTemporaryDir runtime;
        QProcess demo;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        demo.setProcessEnvironment(environment);
        demo.start(QStringLiteral(VALVE_PANEL_DEMO), {});
        demo.waitForStarted();
        // The demo is up once it listens for valvectl. (Blocking waits are
        // fine here: the child runs on its own.)
        const QString socket = runtime.filePath(QStringLiteral("valve-panel.socket"));
        for (int i = 0; i < 600 && !QFile::exists(socket) && demo.state() == QProcess::Running; ++i) {
            QThread::msleep(50);
        }
        if (!QFile::exists(socket)) {
            std::fprintf(stderr, "valve-panel-demo did not come up\n%s",
                         demo.readAllStandardError().constData());
            return false;
        }
        QThread::sleep(1);
        const long before = processWakeUps(demo.processId());
        QThread::sleep(kIdleSeconds);
        const long after = processWakeUps(demo.processId());
        demo.terminate();
        if (!demo.waitForFinished(5'000)) {
            demo.kill();
            demo.waitForFinished();
        }
        report.add("panel_idle_wakeups_per_s", static_cast<double>(after - before) / kIdleSeconds,
                   "wake-ups/s over 10 s idle, all threads (the demo: the panel on the simulated unit)");
        return true;
    }

    static void addRealStack(Report& report) {
        QFile file(realStackCache() + QStringLiteral("/results/panel_idle.json"));
        if (!file.open(QIODevice::ReadOnly)) {
            return;
        }
        const QJsonObject run = QJsonDocument::fromJson(file.readAll()).object();
        const QJsonValue figure = run.value(QStringLiteral("panel_idle_wakeups_per_s"));
        if (!figure.isDouble()) {
            return;
        }
        report.add("real_stack_panel_idle_wakeups_per_s", figure.toDouble(),
                   "wake-ups/s over 10 s idle, the panel holding QEMU's FTDI chip through libftdi1 under "
                   "kernel " +
                       run.value(QStringLiteral("kernel")).toString().toStdString() + " (real-stack run of " +
                       run.value(QStringLiteral("measured")).toString().toStdString() + ")");
    }
};

} // namespace valve::bench
