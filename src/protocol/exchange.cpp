#include "exchange.h"

#include "link/usb_link.h"

namespace valve::protocol {

QCoro::Task<bool> Exchange::run(QByteArray line, int replyLength) {
    link_.send_command(line);
    for (int k = 0; k < replyLength; ++k) {
        const link::ReadResult result = co_await link_.read_char();
        if (!result.ok()) {
            co_return false;
        }
        reply_buf_.slot.at(static_cast<std::size_t>(k)) = result.ch;
    }
    co_return true;
}

} // namespace valve::protocol
