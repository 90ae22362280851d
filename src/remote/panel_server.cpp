#include "panel_server.h"

#include "commands/command.h"
#include "commands/execute.h"
#include "commands/step_json.h"
#include "commands/windowless_session.h"
#include "link/usb_link.h"
#include "messages.h"
#include "peer_user.h"
#include "protocol/session.h"
#include "record/event_log.h"
#include "routine_host.h"
#include "socket_directory.h"

#include <QFile>
#include <QJsonArray>
#include <QLocalSocket>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace valve::remote {

namespace {

// A command's words are few and short; anything longer is not valvectl's.
constexpr qsizetype kMostWords = 40;

std::optional<QStringList> wordsOf(const QJsonValue& value) {
    const QJsonArray array = value.toArray();
    if (!value.isArray() || array.isEmpty() || array.size() > kMostWords) {
        return std::nullopt;
    }
    QStringList words;
    for (const auto& word : array) {
        if (!word.isString()) {
            return std::nullopt;
        }
        words << word.toString();
    }
    return words;
}

QByteArray outcomeMessage(const commands::Outcome& outcome, const QString& command) {
    return encode(type::kOutcome, commands::toMessageJson(outcome, command));
}

// How a remote command shows in the panel's events log.
QString logLine(const QStringList& words) {
    QStringList shown;
    for (const QString& word : words) {
        shown << commands::quoted(word);
    }
    return QStringLiteral("valvectl: ") + shown.join(QLatin1Char(' '));
}

} // namespace

// One connection: reads whole lines, answers in order, and is dropped when it
// stays silent too long, breaks the framing or leaves its replies unread. It
// holds at most one unread line buffer and the replies the client has not
// taken: nothing more is read while a reply waits to go out.
class PanelServer::Client : public QObject {
public:
    Client(PanelServer& server, QLocalSocket* socket) : QObject(&server), server_(server), socket_(socket) {
        server_.clients_.push_back(this);
        socket_->setParent(this);
        socket_->setReadBufferSize(kMaxMessageBytes + 1);
        idle_.setSingleShot(true);
        idle_.setInterval(kIdleLimit);
        connect(&idle_, &QTimer::timeout, this, [this] { drop(QStringLiteral("no request in time")); });
        connect(socket_, &QLocalSocket::readyRead, this, &Client::readLines);
        // Queued: flushing a reply inside readLines() must not start another round of it.
        connect(socket_, &QLocalSocket::bytesWritten, this, &Client::readLines, Qt::QueuedConnection);
        connect(socket_, &QLocalSocket::disconnected, this, &QObject::deleteLater);
        idle_.start();
    }
    ~Client() override { std::erase(server_.clients_, this); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void send(const QByteArray& message) {
        if (closing_ || socket_->state() != QLocalSocket::ConnectedState) {
            return;
        }
        socket_->write(message);
        socket_->flush(); // what the system takes now; the rest waits for the client to read
        if (socket_->bytesToWrite() > server_.unsent_limit_) {
            server_.panel_.log.show_msg(
                QStringLiteral("valvectl: a client left more than %1 bytes of replies unread and was dropped")
                    .arg(server_.unsent_limit_));
            cutOff();
        }
    }
    // Answers `message` and closes the connection once that has gone out, or
    // at once when the client is not reading.
    void drop(const QString& message) {
        idle_.stop();
        send(errorMessage(message));
        closing_ = true;
        if (socket_->bytesToWrite() > 0) {
            cutOff();
        } else {
            socket_->disconnectFromServer();
        }
    }
    // Answers `message` and leaves the connection open until the client,
    // which may be sending its first request meanwhile, has read it and
    // closed it: closing first could make that request fail and lose the
    // answer on the client's side. A client that stays is cut off.
    void refuse(const QString& message) {
        send(errorMessage(message));
        closing_ = true;
        idle_.setInterval(kRefusalLinger);
        idle_.start();
    }
    // A request is under way (no idle limit) or has been answered.
    void setBusy(bool busy) {
        busy_ = busy;
        if (busy) {
            idle_.stop();
        } else {
            idle_.start();
        }
    }
    [[nodiscard]] bool busy() const { return busy_; }
    [[nodiscard]] bool closing() const { return closing_; }

private:
    void readLines() {
        QByteArray line;
        // Back-pressure: a client that does not take its replies is not read
        // either, so that it cannot make the panel hold more of them.
        while (!closing_ && socket_->bytesToWrite() == 0) {
            switch (takeLine(*socket_, line)) {
            case LineState::Complete:
                server_.take(*this, line);
                break;
            case LineState::TooLong:
                // The rest of the stream cannot be framed again: nothing more is read.
                socket_->readAll();
                drop(QStringLiteral("message longer than %1 bytes").arg(kMaxMessageBytes));
                return;
            case LineState::Incomplete:
                return;
            }
        }
    }
    // Ends the connection without waiting for anything to go out.
    void cutOff() {
        closing_ = true;
        idle_.stop();
        socket_->abort();
        deleteLater(); // the socket may not report a connection it drops itself
    }

    PanelServer& server_;
    QLocalSocket* socket_;
    QTimer idle_;
    bool busy_ = false;
    bool closing_ = false; // refused or dropped: nothing more is read or sent
};

PanelServer::PanelServer(protocol::Session& panel, RoutineHost& routines, QObject* parent)
    : QObject(parent), panel_(panel), routines_(routines), allowed_user_(getuid()) {
    connect(&server_, &QLocalServer::newConnection, this, &PanelServer::accept);
    connect(&routines_, &RoutineHost::stepReported, this, &PanelServer::stepReported);
    connect(&routines_, &RoutineHost::routineEnded, this, &PanelServer::routineEnded);
}

PanelServer::~PanelServer() {
    *alive_ = false;
    close();
}

bool PanelServer::listen(const QString& directory, QString* error) {
    QString why;
    for (int slot = 1; slot <= kMaxPanels; ++slot) {
        switch (bind(panelSocketPath(directory, slot), why)) {
        case Bind::Listening:
            return true;
        case Bind::Taken:
            break;
        case Bind::Failed:
            if (error != nullptr) {
                *error = why;
            }
            return false;
        }
    }
    if (error != nullptr) {
        *error = QStringLiteral("%1 panels listen in %2 already").arg(kMaxPanels).arg(directory);
    }
    return false;
}

PanelServer::Bind PanelServer::bind(const QString& path, QString& error) {
    // The lock tells a live panel from the socket file a crashed one left.
    lock_ = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        const bool taken = lock_->error() == QLockFile::LockFailedError;
        lock_.reset();
        error = taken ? QStringLiteral("another panel listens at %1").arg(path)
                      : QStringLiteral("cannot lock %1.lock").arg(path);
        return taken ? Bind::Taken : Bind::Failed;
    }
    QLocalServer::removeServer(path);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.setMaxPendingConnections(kMaxClients);
    if (!server_.listen(path)) {
        lock_.reset();
        error = QStringLiteral("cannot listen at %1: %2").arg(path, server_.errorString());
        return Bind::Failed;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return Bind::Listening;
}

void PanelServer::close() {
    if (server_.isListening()) {
        server_.close();
    }
    lock_.reset();
    for (Client* client : std::vector<Client*>(clients_)) {
        delete client;
    }
}

void PanelServer::accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        if (clients_.size() >= 2 * static_cast<std::size_t>(kMaxClients)) {
            // Refused clients are still reading why: a flood gets no word at all.
            socket->abort();
            delete socket;
            continue;
        }
        auto* client = new Client(*this, socket);
        if (peerUser(socket->socketDescriptor()) != allowed_user_) {
            client->refuse(QStringLiteral("refused: the panel serves its own user only"));
        } else if (servedClients() > static_cast<std::size_t>(kMaxClients)) {
            client->refuse(QStringLiteral("too many clients; try again"));
        }
    }
}

std::size_t PanelServer::servedClients() const {
    return static_cast<std::size_t>(std::count_if(clients_.begin(), clients_.end(),
                                                  [](const Client* client) { return !client->closing(); }));
}

void PanelServer::take(Client& client, const QByteArray& line) {
    const Message message = decode(line);
    if (!message.error.isEmpty()) {
        client.send(errorMessage(message.error));
    } else if (message.type == type::kHello) {
        const auto& description = panel_.link.device_description();
        client.send(encode(
            type::kHello,
            {{QStringLiteral("adapter"),
              QString::fromLocal8Bit(description.data(), static_cast<qsizetype>(strnlen(
                                                             description.data(), description.size())))}}));
    } else if (message.type == type::kStop) {
        if (run_ && run_->owner == &client) {
            routines_.stopRoutine();
        } else {
            client.send(errorMessage(QStringLiteral("no run of this connection is under way")));
        }
    } else if (message.type == type::kCommand) {
        command(client, message.body);
    } else {
        client.send(
            errorMessage(QStringLiteral("unknown message type \"%1\"").arg(commands::quoted(message.type))));
    }
}

void PanelServer::command(Client& client, const QJsonObject& body) {
    if (client.busy()) {
        client.send(errorMessage(QStringLiteral("one request at a time: the last one is still under way")));
        return;
    }
    const auto words = wordsOf(body.value(QStringLiteral("words")));
    if (!words) {
        client.send(errorMessage(QStringLiteral("a command needs \"words\": a short list of strings")));
        return;
    }
    // A routine comes as text: the panel reads no file a client names.
    const commands::ParsedCommand parsed =
        commands::parseCommand(*words, body.value(QStringLiteral("routine")).toString().toUtf8());
    if (!parsed.command || parsed.command->kind == commands::Command::Kind::List) {
        const QString error =
            parsed.command ? QStringLiteral("list: not a command for the panel") : parsed.error;
        client.send(outcomeMessage(commands::Outcome::failed(commands::kBadUsage, error), words->value(0)));
        return;
    }
    client.setBusy(true);
    if (parsed.command->kind == commands::Command::Kind::Run) {
        startRun(client, *parsed.command);
        return;
    }
    // The panel's own line, before the command's operations: not the command's.
    panel_.log.show_msg(logLine(*words), {});
    if (parsed.command->kind == commands::Command::Kind::Stop) {
        stopRun(client);
        return;
    }
    serve(&client, *parsed.command, body.value(QStringLiteral("confirmed")).toBool());
}

QCoro::Task<> PanelServer::serve(QPointer<Client> client, commands::Command command, bool confirmed) {
    const std::shared_ptr<bool> alive = alive_;
    commands::QuietBoxes boxes(confirmed);
    protocol::Session session =
        commands::windowlessSession(panel_.link, panel_.log, boxes, panel_.exchange, panel_.positions);
    const commands::Outcome outcome = co_await commands::execute(session, boxes, command);
    // The client may have gone, and the panel with it, while the command ran.
    if (*alive && client) {
        client->send(outcomeMessage(outcome, command.name()));
        client->setBusy(false);
    }
}

void PanelServer::startRun(Client& client, const commands::Command& command) {
    const bool free = !run_;
    QMetaObject::Connection announce;
    if (free) {
        // Set before "Run" is pressed: the run reports from the press on.
        run_.emplace(Run{&client, commands::RunTally(static_cast<int>(command.steps.size()))});
        // "Run" empties the log; then the run's first line says where it came from.
        announce = connect(&panel_.log, &record::EventLog::cleared, this,
                           [this, line = logLine(command.words)] { panel_.log.show_msg(line, {}); });
    }
    const bool started = free && routines_.startRoutine(command.steps);
    disconnect(announce); // "Run" has cleared the log by now, if it ran at all
    if (started) {
        started_ = {routines_.routineState().run, command.routineName};
    }
    if (!started) {
        if (free) {
            run_.reset();
        }
        client.send(
            outcomeMessage(commands::Outcome::failed(commands::kUnitFailed,
                                                     QStringLiteral("the panel's Timed Events are in use")),
                           command.name()));
        client.setBusy(false);
    }
}

// Presses "Stop" as the operator would, for any client of the panel's user:
// a run under way is answered for once it has ended.
void PanelServer::stopRun(Client& client) {
    using Phase = RoutineState::Phase;
    const RoutineState state = routines_.routineState();
    if (state.phase == Phase::Running) {
        stoppers_.emplace_back(&client); // before the press: the run may end within it
        routines_.stopRoutine();
        return;
    }
    if (state.phase == Phase::Held) {
        routines_.stopRoutine();
    }
    client.send(
        outcomeMessage(state.phase == Phase::Idle
                           ? commands::Outcome::failed(commands::kUnitFailed,
                                                       QStringLiteral("no run is under way in the panel"))
                           : stopped(state, nullptr),
                       QStringLiteral("stop")));
    client.setBusy(false);
}

// Which run "stop" stopped: its number, who started it and when, and how far it came.
commands::Outcome PanelServer::stopped(const RoutineState& state, const commands::RunTally* tally) const {
    const bool bySocket = state.run == started_.number;
    const QString pressed = state.pressed.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QJsonObject run{
        {QStringLiteral("run"), static_cast<qint64>(state.run)},
        {QStringLiteral("started_by"), bySocket ? QStringLiteral("valvectl") : QStringLiteral("window")},
        {QStringLiteral("started_at"), state.pressed.toString(Qt::ISODate)}};
    QString text = bySocket ? QStringLiteral("Stopped run %1: %2, started by valvectl at %3")
                                  .arg(state.run)
                                  .arg(started_.routine, pressed)
                            : QStringLiteral("Stopped run %1, started in the panel's window at %2")
                                  .arg(state.run)
                                  .arg(pressed);
    if (bySocket) {
        run.insert(QStringLiteral("routine"), started_.routine);
    }
    if (tally != nullptr) {
        run.insert(QStringLiteral("steps"), tally->steps());
        run.insert(QStringLiteral("steps_moved"), tally->moved());
        text += QStringLiteral(", after %1 of %2 steps").arg(tally->moved()).arg(tally->steps());
    }
    if (state.phase == RoutineState::Phase::Held) {
        text += QStringLiteral("; it had ended on a failed move, and its table is free again");
    }
    commands::Outcome outcome;
    outcome.values.insert(QStringLiteral("stopped"), run);
    outcome.out << text;
    return outcome;
}

void PanelServer::stepReported(const sequencer::StepReport& report) {
    if (!run_) {
        return; // the operator's own run
    }
    run_->tally.add(report);
    if (run_->owner) {
        run_->owner->send(encode(type::kStep, commands::stepJson(report, run_->tally.steps())));
    }
}

void PanelServer::routineEnded(sequencer::RunEnd end) {
    const RoutineState state = routines_.routineState();
    for (const QPointer<Client>& stopper : std::exchange(stoppers_, {})) {
        if (stopper) {
            stopper->send(
                outcomeMessage(stopped(state, run_ ? &run_->tally : nullptr), QStringLiteral("stop")));
            stopper->setBusy(false);
        }
    }
    if (!run_) {
        return; // the operator's own run
    }
    const Run run = std::move(*run_);
    run_.reset();
    if (run.owner) {
        run.owner->send(
            outcomeMessage(run.tally.outcome(end, routines_.routineLines(), {}), QStringLiteral("run")));
        run.owner->setBusy(false);
    }
}

} // namespace valve::remote
