#include "panel_server.h"

#include "commands/command_core.h"
#include "commands/step_json.h"
#include "link/usb_link.h"
#include "messages.h"
#include "peer_user.h"
#include "protocol/session.h"
#include "record/event_log.h"
#include "socket_directory.h"

#include <QFile>
#include <QLocalSocket>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace valve::remote {

namespace {

QByteArray outcomeMessage(const commands::Outcome& outcome, const QString& command) {
    return encode(type::kOutcome, commands::toMessageJson(outcome, command));
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
        idle_.setInterval(server_.timing_.idle);
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
        idle_.setInterval(server_.timing_.refusalLinger);
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

PanelServer::PanelServer(protocol::Session& panel, commands::CommandCore& core, QObject* parent)
    : QObject(parent), panel_(panel), core_(core), allowed_user_(getuid()) {
    connect(&server_, &QLocalServer::newConnection, this, &PanelServer::accept);
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
        if (!core_.stopRunOf(&client)) {
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
    const auto words = commandWords(body.value(QStringLiteral("words")));
    if (!words) {
        client.send(errorMessage(QStringLiteral("a command needs \"words\": a short list of strings")));
        return;
    }
    client.setBusy(true);
    // A routine comes as text: the panel reads no file a client names.
    const auto text = [&body](const char* key) { return body.value(QLatin1String(key)).toString(); };
    commands::Request request{
        .words = *words,
        .routine = text("routine").toUtf8(),
        .confirmed = body.value(QStringLiteral("confirmed")).toBool(),
        .continues = text("continues"),
        .timesFrom = QDateTime::fromString(text("times_from"), Qt::ISODateWithMs),
    };
    serve(&client, std::move(request));
}

QCoro::Task<> PanelServer::serve(QPointer<Client> client, commands::Request request) {
    const std::shared_ptr<bool> alive = alive_;
    const auto step = [client](const sequencer::StepReport& report, int steps) {
        if (client) {
            client->send(encode(type::kStep, commands::stepJson(report, steps)));
        }
    };
    const commands::Outcome outcome = co_await core_.run(std::move(request), step, client.data());
    // The client may have gone, and the panel with it, while the command ran.
    if (*alive && client) {
        client->send(outcomeMessage(outcome, outcome.command));
        client->setBusy(false);
    }
}

} // namespace valve::remote
