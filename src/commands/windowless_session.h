#pragma once

#include "protocol/message_boxes.h"
#include "protocol/session.h"

#include <QStringList>

namespace valve::protocol {
class Exchange;
class PositionControl;
} // namespace valve::protocol

namespace valve::commands {

// Message boxes that never show a window: each text is kept for the caller
// to report, and a question (OK or Cancel) gets the answer the caller decided
// on beforehand (valvectl's --yes).
class QuietBoxes : public protocol::MessageBoxes {
public:
    explicit QuietBoxes(bool confirm = false) : confirm_(confirm) {}

    QCoro::Task<protocol::BoxAnswer> message_box(QString text, protocol::BoxButtons buttons,
                                                 QString caption) override;

    // The texts of the boxes that were not questions, in order.
    [[nodiscard]] const QStringList& texts() const { return texts_; }

private:
    bool confirm_;
    QStringList texts_;
};

// A session for commands that do not come from the panel's window: valvectl's
// own, or a front end's through the panel. Every such session is made here;
// the traffic record names its operations after `origin` ("valvectl: ...").
protocol::Session windowlessSession(link::UsbLink& link, record::EventLog& log, QuietBoxes& boxes,
                                    protocol::Exchange& exchange, protocol::PositionControl& positions,
                                    const QString& origin = QStringLiteral("valvectl"));

} // namespace valve::commands
