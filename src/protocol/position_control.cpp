#include "position_control.h"

#include "exchange.h"
#include "record/event_log.h"

namespace valve::protocol {

QCoro::Task<bool> PositionControl::set_position(std::int16_t position) {
    // Only 0..255 fits the one byte on the wire; a wider value would be sent
    // as a different position.
    if (position < 0 || position > 255) {
        log_.show_msg(QStringLiteral("Error - Could not set position, make sure position is valid."));
        co_return false;
    }
    const auto target = static_cast<std::uint8_t>(position);
    // Each await is a statement of its own: GCC 12 miscompiles a co_await inside
    // a condition once the awaited task has really suspended.
    const bool acknowledged = co_await exchange_.run(commandLine('P', target), kAcknowledgement);
    if (!acknowledged) {
        log_.show_msg(QStringLiteral("Error - Could not set position, make sure position is valid."));
        co_return false;
    }
    const bool reported = co_await exchange_.run(commandLine('S'), kValueReply);
    if (!reported) {
        log_.show_msg(QStringLiteral("Error - Could not recieve the position status."));
        co_return false;
    }
    report(exchange_.reply_buf().value());
    if (exchange_.reply_buf().value() != target) {
        log_.show_msg(QStringLiteral("Position was not achieved"));
        co_return false;
    }
    log_.show_msg(QStringLiteral("Position set to %1").arg(position));
    co_return true;
}

} // namespace valve::protocol
