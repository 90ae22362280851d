#include "operation.h"

#include "link/usb_link.h"
#include "record/event_log.h"
#include "record/operation_lines.h"
#include "session.h"

namespace valve::protocol {

QCoro::Task<link::OperationQueue::Turn> takeTurn(Session& session, QString label) {
    return takeTurn(session, std::move(label), session.lines);
}

QCoro::Task<link::OperationQueue::Turn> takeTurn(Session& session, QString label,
                                                 record::OperationLines* lines) {
    if (!session.origin.isEmpty()) {
        label = session.origin + QStringLiteral(": ") + label;
    }
    auto turn = co_await session.link.operations().acquire(std::move(label));
    // Claimed before anything of the turn is logged.
    if (lines != nullptr) {
        lines->claim(turn.number());
    }
    co_return turn;
}

void logAfterTurn(Session& session, const QString& text) {
    if (session.lines != nullptr) {
        session.lines->show_msg(text);
    } else {
        session.log.show_msg(text, {});
    }
}

QCoro::Task<link::OperationQueue::Turn> beginOperation(Session& session, LinkCheck check, QString label) {
    auto turn = co_await takeTurn(session, std::move(label));
    if (turn && check == LinkCheck::Yes) {
        co_await session.link.check_usb_connection();
    }
    co_return turn;
}

QCoro::Task<bool> exchangeOrReport(Session& session, QByteArray line, int replyLength, QString failureLine) {
    const bool complete = co_await session.exchange.run(std::move(line), replyLength);
    if (complete) {
        co_return true;
    }
    // A read cut short by shut-down is no fault of the unit's.
    if (!session.link.is_shut_down()) {
        session.log.show_msg(failureLine);
    }
    co_return false;
}

} // namespace valve::protocol
