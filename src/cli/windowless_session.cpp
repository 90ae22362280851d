#include "windowless_session.h"

namespace valve::cli {

QCoro::Task<link::BoxAnswer> QuietBoxes::message_box(QString text, link::BoxButtons buttons,
                                                     QString /*caption*/) {
    if (buttons == link::BoxButtons::OkCancel) {
        co_return confirm_ ? link::BoxAnswer::Ok : link::BoxAnswer::Cancel;
    }
    texts_ << text;
    co_return link::BoxAnswer::Ok;
}

protocol::Session windowlessSession(link::UsbLink& link, link::EventLog& log, QuietBoxes& boxes,
                                    protocol::Exchange& exchange, protocol::PositionControl& positions) {
    return protocol::Session{link, log, boxes, exchange, positions, QStringLiteral("valvectl")};
}

} // namespace valve::cli
