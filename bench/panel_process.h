#pragma once

// The demo panel in a process of its own, offscreen, with a runtime
// directory of its own where it listens; what it holds is read from /proc.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

namespace valve::bench {

class PanelProcess {
public:
    PanelProcess() = default;
    PanelProcess(const PanelProcess&) = delete;
    PanelProcess& operator=(const PanelProcess&) = delete;
    ~PanelProcess() {
        process_.kill();
        process_.waitForFinished(5'000);
    }

    // Starts it and waits until it listens; false (with a note on stderr) when it does not.
    bool start(const QStringList& arguments) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process_.setProcessEnvironment(environment);
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(QStringLiteral(VALVE_PANEL_DEMO), arguments);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{20};
        while (!QFile::exists(socketPath()) && std::chrono::steady_clock::now() < deadline &&
               process_.state() != QProcess::NotRunning) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
        if (!QFile::exists(socketPath())) {
            std::fprintf(stderr, "the demo panel did not listen at %s\n", qPrintable(socketPath()));
            return false;
        }
        return true;
    }

    [[nodiscard]] QString socketPath() const {
        return runtime_.filePath(QStringLiteral("valve-panel.socket"));
    }

    // VmRSS in kB; 0 when it cannot be read.
    [[nodiscard]] long residentKb() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(process_.processId()));
        if (!status.open(QIODevice::ReadOnly | QIODevice::Text)) {
            return 0;
        }
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (line.startsWith("VmRSS:")) {
                return line.mid(6).trimmed().split(' ').value(0).toLong();
            }
        }
        return 0;
    }

    [[nodiscard]] int openDescriptors() const {
        return static_cast<int>(QDir(QStringLiteral("/proc/%1/fd").arg(process_.processId()))
                                    .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                    .size());
    }

private:
public:
    [[nodiscard]] qint64 pid() const { return process_.processId(); }
    // A file in its runtime directory (for its --log-file).
    [[nodiscard]] QString file(const QString& name) const { return runtime_.filePath(name); }

private:
    QTemporaryDir runtime_;
    QProcess process_;
};

} // namespace valve::bench
