#pragma once

#include "coro_test.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <sys/types.h>

namespace valve::testing {

// valve-panel-demo in a process of its own, offscreen, listening in
// `directory` (its $XDG_RUNTIME_DIR unless the test changes `environment`);
// what it holds is read from /proc.
class DemoPanel {
public:
    explicit DemoPanel(const QString& directory) : directory(directory) {
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), directory);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    DemoPanel(const DemoPanel&) = delete;
    DemoPanel& operator=(const DemoPanel&) = delete;
    ~DemoPanel() {
        process.kill();
        process.waitForFinished();
    }

    void launch(const QStringList& arguments = {}) {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VALVE_PANEL_DEMO), arguments);
    }
    // Starts it and waits until it listens.
    bool start() {
        launch();
        return runUntil([this] { return QFile::exists(socketPath()); }, std::chrono::seconds{20});
    }
    [[nodiscard]] pid_t pid() const { return static_cast<pid_t>(process.processId()); }
    [[nodiscard]] QString socketPath() const { return directory + QStringLiteral("/valve-panel.socket"); }

    [[nodiscard]] long residentKb() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
        status.open(QIODevice::ReadOnly | QIODevice::Text);
        const QByteArray text = status.readAll();
        const qsizetype at = text.indexOf("VmRSS:");
        return at < 0
                   ? -1
                   : text.mid(at + 6, text.indexOf('\n', at) - at - 6).trimmed().split(' ').value(0).toLong();
    }
    [[nodiscard]] qsizetype openDescriptors() const {
        return QDir(QStringLiteral("/proc/%1/fd").arg(pid()))
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
            .size();
    }

    QString directory;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess process;
};

} // namespace valve::testing
