#pragma once

#include "coro_test.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace valve::testing {

// valvectl run as a user runs it, with its own runtime directory (where it looks for the panel's socket).
class Valvectl {
public:
    struct Finished {
        int exitCode = -1;
        QString out;
        QString err;
        [[nodiscard]] QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
    };

    Valvectl() {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        process.setProcessEnvironment(environment);
    }

    void setEnvironment(const QString& name, const QString& value) {
        auto environment = process.processEnvironment();
        environment.insert(name, value);
        process.setProcessEnvironment(environment);
    }
    void start(const QStringList& arguments) { process.start(QStringLiteral(VALVECTL), arguments); }
    // Runs the event loop (a panel in this process keeps serving) until it ends.
    Finished finish(std::chrono::milliseconds limit = std::chrono::seconds{20}) {
        runUntil([this] { return process.state() == QProcess::NotRunning; }, limit);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    Finished run(const QStringList& arguments) {
        start(arguments);
        return finish();
    }
    [[nodiscard]] QString socketPath() const {
        return runtime.filePath(QStringLiteral("valve-panel.socket"));
    }
    // A file in the runtime directory, for a routine.
    QString file(const QString& name, const QByteArray& content) const {
        QFile out(runtime.filePath(name));
        out.open(QIODevice::WriteOnly);
        out.write(content);
        return out.fileName();
    }

    QTemporaryDir runtime;
    QProcess process;
};

} // namespace valve::testing
