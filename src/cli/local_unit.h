#pragma once

#include "commands/windowless_session.h"
#include "link/device_search.h"
#include "link/usb_link.h"
#include "protocol/exchange.h"
#include "protocol/position_control.h"
#include "protocol/session.h"
#include "record/event_log.h"

#include <QByteArray>

namespace valve::cli {

// valvectl's own channel to a unit: its events log, the device search, the
// link over `driver`, and a session whose boxes show nothing. The adapter is
// opened by open() and closed by close() or at the latest by the destructor.
class LocalUnit {
public:
    LocalUnit(link::FtdiDriver& driver, QByteArray description, link::LinkTiming timing, bool confirm);
    ~LocalUnit();
    LocalUnit(const LocalUnit&) = delete;
    LocalUnit& operator=(const LocalUnit&) = delete;

    // Finds and opens the adapter of the description given; the log tells
    // why when it cannot.
    QCoro::Task<bool> open();
    // Closes the adapter; every waiting operation ends, and nothing more is sent.
    void close() { link_.shut_down(); }

    [[nodiscard]] protocol::Session& session() { return session_; }
    [[nodiscard]] commands::QuietBoxes& boxes() { return boxes_; }
    [[nodiscard]] record::EventLog& log() { return log_; }

private:
    // Offers the description valvectl was told to open, when several are free.
    class Pick : public link::DeviceChooser {
    public:
        explicit Pick(QByteArray description) : description_(std::move(description)) {}
        QCoro::Task<QByteArray> choose(QList<QByteArray> /*descriptions*/) override {
            // A copy: co_return moves from a member, and a second choice
            // (after a replug) would find it empty.
            co_return QByteArray(description_);
        }

    private:
        QByteArray description_;
    };

    Pick pick_;
    record::EventLog log_;
    link::DeviceSearch search_;
    link::UsbLink link_;
    protocol::Exchange exchange_{link_};
    protocol::PositionControl positions_{exchange_, log_};
    commands::QuietBoxes boxes_;
    protocol::Session session_;
};

} // namespace valve::cli
