#pragma once

#include "link/wake_signal.h"
#include "messages.h"

#include <QLocalSocket>
#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::remote {

// valvectl's end of the panel's socket: one connection, messages out, the
// panel's messages in, each wait a coroutine await.
class PanelClient {
public:
    PanelClient();
    PanelClient(const PanelClient&) = delete;
    PanelClient& operator=(const PanelClient&) = delete;

    // What answered at a socket.
    struct Answer {
        enum class Kind {
            Nothing, // nothing listens there
            Panel,   // a panel, and `text` is the adapter it holds (empty: none)
            Refused, // a panel that will not serve this client, `text` in its words
            Mute,    // something that does not answer as a panel does, `text` says how
        };
        Kind kind = Kind::Nothing;
        QString text;
    };
    // Connects to `path` and asks what is there; the connection stays open
    // for a command when a panel answered.
    QCoro::Task<Answer> open(const QString& path);

    void send(const QByteArray& message);
    // The panel's next message; nothing when the connection ended, the time
    // ran out (a negative limit waits without one) or the line was not a message.
    QCoro::Task<std::optional<Message>> next(std::chrono::milliseconds limit = std::chrono::milliseconds{-1});
    // Drops the connection; a waiting next() ends with nothing.
    void abort();

private:
    QLocalSocket socket_;
    link::WakeSignal activity_; // bytes arrived, connected, or the connection ended
};

} // namespace valve::remote
