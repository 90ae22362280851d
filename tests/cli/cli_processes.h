#pragma once

#include "coro_test.h"
#include "remote/messages.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <sys/types.h>

namespace valve::testing {

// valvectl run as a user runs it, with its own runtime directory (where it looks for the panel's socket).
class Valvectl {
public:
    struct Finished {
        int exitCode = -1;
        QString out, err;
        [[nodiscard]] QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
        // "exit code / standard output / standard error", to check all three at once.
        [[nodiscard]] QString whole() const { return QString::number(exitCode) + " / " + out + " / " + err; }
    };

    Valvectl() { setEnvironment(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path()); }

    void setEnvironment(const QString& name, const QString& value) { environment.insert(name, value); }
    void start(const QStringList& arguments, const QString& program = QStringLiteral(VALVECTL)) {
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
    }
    void signal(int number) const { ::kill(static_cast<pid_t>(process.processId()), number); }
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
    [[nodiscard]] QString socketPath() const { return runtime.filePath("valve-panel.socket"); }
    // A file in the runtime directory, for a routine.
    QString file(const QString& name, const QByteArray& content) const {
        QFile out(runtime.filePath(name));
        return out.open(QIODevice::WriteOnly) && out.write(content) == content.size() ? out.fileName()
                                                                                      : QString();
    }

    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess process;
};

// valve-panel-demo, offscreen, in a process of its own, listening in `directory` (a temporary one by default;
// its $XDG_RUNTIME_DIR unless the test changes `environment`); /proc shows the descriptors it holds.
class DemoPanel {
public:
    explicit DemoPanel(const QString& in = {}) : directory(in.isEmpty() ? own.path() : in) {
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), directory);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
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

    [[nodiscard]] qsizetype openDescriptors() const {
        const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(pid()));
        return descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    }

    QTemporaryDir own;
    QString directory;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess process;
};

// A command message of the words in `line`, with a routine's contents when given.
inline QByteArray command(const QString& line, const QString& routine = {}) {
    QJsonObject body{{"words", QJsonArray::fromStringList(line.split(' '))}};
    if (!routine.isEmpty()) {
        body.insert("routine", routine);
    }
    return valve::remote::encode(valve::remote::type::kCommand, body);
}

// A client that writes what it is told and collects the lines it gets back.
struct RawClient {
    explicit RawClient(const QString& path, const QByteArray& message = {}) {
        QObject::connect(&socket, &QLocalSocket::readyRead, [this] {
            while (socket.canReadLine()) {
                replies << QString::fromUtf8(socket.readLine()).trimmed();
            }
        });
        socket.connectToServer(path);
        socket.write(message);
    }
    bool await(int count) {
        return runUntil([&] { return replies.size() >= count; });
    }
    // Its command's outcome once ended: standard output / standard error after a success / the log lines.
    QString report() {
        QJsonObject outcome;
        runUntil([&] {
            outcome = QJsonDocument::fromJson(replies.value(replies.size() - 1).toUtf8()).object();
            return outcome.value("type") == "outcome";
        });
        const auto part = [&](const char* key) {
            return outcome.value(key).toVariant().toStringList().join(", ");
        };
        return part("output") + " / " + part("notes") + " / " + part("log");
    }

    QLocalSocket socket;
    QStringList replies;
};

} // namespace valve::testing
