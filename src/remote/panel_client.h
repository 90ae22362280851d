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

    // False when no panel answers at `path`.
    QCoro::Task<bool> connectTo(const QString& path);
    // The description of the adapter the panel holds (empty when it holds
    // none), or nothing when what answers is not a panel of this version.
    QCoro::Task<std::optional<QString>> hello();

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
