#include "windowless_session.h"

namespace valve::commands {

QCoro::Task<protocol::BoxAnswer> QuietBoxes::message_box(QString text, protocol::BoxButtons buttons,
                                                         QString /*caption*/) {
    if (buttons == protocol::BoxButtons::OkCancel) {
        co_return confirm_ ? protocol::BoxAnswer::Ok : protocol::BoxAnswer::Cancel;
    }
    texts_ << text;
    co_return protocol::BoxAnswer::Ok;
}

protocol::Session windowlessSession(link::UsbLink& link, record::EventLog& log, QuietBoxes& boxes,
                                    protocol::Exchange& exchange, protocol::PositionControl& positions,
                                    const QString& origin) {
    return protocol::Session{link, log, boxes, exchange, positions, origin};
}

} // namespace valve::commands
