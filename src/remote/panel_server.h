#pragma once

#include "commands/command_core.h"

#include <QLocalServer>
#include <QLockFile>
#include <QPointer>
#include <chrono>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <sys/types.h>
#include <vector>

namespace valve::protocol {
struct Session;
}

namespace valve::remote {

// Time limits of the panel's socket; tests inject shorter ones.
struct SocketTiming {
    std::chrono::milliseconds idle{10'000};         // for a client's next request
    std::chrono::milliseconds refusalLinger{2'000}; // for a refused client to read why before it is cut off
};

// The panel's local socket. valvectl's commands, from the panel's own user
// only, run in the panel's operation queue like clicks, one request at a time
// per connection, and show in its events log; they never show a box. A
// routine runs in the panel's own Timed Events table. Bad clients (silent,
// garbled, oversized, too many, another user's) get an error reply at most.
class PanelServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 32;
    // A client that leaves more than this of its replies unread is dropped.
    static constexpr qint64 kMaxUnsentBytes = qint64{1024} * 1024;

    // `panel` is the panel window's own session, for its adapter's name and
    // its events log; `core` carries out the requests.
    PanelServer(protocol::Session& panel, commands::CommandCore& core, QObject* parent = nullptr);
    ~PanelServer() override;
    PanelServer(const PanelServer&) = delete;
    PanelServer& operator=(const PanelServer&) = delete;

    // Listens in `directory` at the first panel socket no other panel holds,
    // open to this user only (mode 0600). False, with the reason in `error`,
    // when it cannot.
    bool listen(const QString& directory, QString* error = nullptr);
    // Stops listening and drops every client.
    void close();
    [[nodiscard]] QString path() const { return server_.fullServerName(); }

    // Clients of any other user are refused (tests name someone else).
    void setAllowedUser(uid_t user) { allowed_user_ = user; }
    // Tests lower the bound on unread replies.
    void setUnsentLimit(qint64 bytes) { unsent_limit_ = bytes; }
    void setTiming(SocketTiming timing) { timing_ = timing; }

private:
    class Client;
    enum class Bind { Listening, Taken, Failed };

    Bind bind(const QString& path, QString& error);
    void accept();
    [[nodiscard]] std::size_t servedClients() const;
    void take(Client& client, const QByteArray& line);
    void command(Client& client, const QJsonObject& body);
    QCoro::Task<> serve(QPointer<Client> client, commands::Request request);

    protocol::Session& panel_;
    commands::CommandCore& core_;
    QLocalServer server_;
    std::unique_ptr<QLockFile> lock_;
    uid_t allowed_user_;
    qint64 unsent_limit_ = kMaxUnsentBytes;
    SocketTiming timing_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::vector<Client*> clients_; // each is a child of this server
};

} // namespace valve::remote
