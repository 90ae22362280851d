#pragma once

#include "codec.h"

#include <QByteArray>
#include <qcoro/qcorotask.h>

namespace valve::link {
class UsbLink;
}

namespace valve::protocol {

inline constexpr int kAcknowledgement = 1;
inline constexpr int kValueReply = 3;

// One command exchange: send a line, read a fixed number of reply characters
// into the shared reply buffer. The caller holds the link's operation turn.
class Exchange {
public:
    explicit Exchange(link::UsbLink& link) : link_(link) {}

    // Sends `line` (stale input discarded first) and reads `replyLength`
    // characters, stopping at the first that does not come. True when all came.
    QCoro::Task<bool> run(QByteArray line, int replyLength);

    [[nodiscard]] ReplyBuffer& reply_buf() { return reply_buf_; }
    [[nodiscard]] link::UsbLink& link() { return link_; }

private:
    link::UsbLink& link_;
    ReplyBuffer reply_buf_;
};

} // namespace valve::protocol
