#include "position_commands.h"

#include "operation.h"
#include "session.h"
#include "text_field.h"

namespace valve::protocol {

QCoro::Task<bool> move_valve(Session& session, std::int16_t position, TextField& position_box) {
    auto turn =
        co_await beginOperation(session, LinkCheck::Yes, QStringLiteral("Change Position %1").arg(position));
    if (!turn) {
        co_return false;
    }
    const bool reached = co_await session.positions.set_position(position);
    if (reached) {
        position_box.setText(QString::number(position));
    }
    co_return reached;
}

QCoro::Task<std::optional<int>> home_valve(Session& session, TextField& position_box) {
    auto turn = co_await beginOperation(session, LinkCheck::No, QStringLiteral("Home the Valve"));
    if (!turn) {
        co_return std::nullopt;
    }
    const bool acknowledged =
        co_await exchangeOrReport(session, commandLine('M'), kAcknowledgement, kTalkFailure);
    if (!acknowledged) {
        co_return std::nullopt;
    }
    const bool reported = co_await exchangeOrReport(session, commandLine('S'), kValueReply, kTalkFailure);
    if (!reported) {
        co_return std::nullopt;
    }
    const int position = session.exchange.reply_buf().value();
    session.positions.report(position);
    position_box.setText(QString::number(position));
    co_return position;
}

} // namespace valve::protocol
