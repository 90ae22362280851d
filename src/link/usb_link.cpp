#include "usb_link.h"

#include "device_search.h"
#include "record/event_log.h"

#include <QMetaObject>
#include <algorithm>

namespace valve::link {

namespace {
using Clock = std::chrono::steady_clock;

// One configuration step: the driver call and the log line for its failure.
struct SettingStep {
    FtStatus status;
    const char* failureLine;
};
} // namespace

UsbLink::UsbLink(FtdiDriver& driver, DeviceSearch& search, record::EventLog& log, LinkTiming timing)
    : driver_(driver), search_(search), log_(log), timing_(timing) {
    // A backend may call from its reader thread; the wake-up is handed to the
    // logic thread through the event queue.
    notifies_ = driver_.setReceiveNotifier([this] {
        QMetaObject::invokeMethod(
            &context_, [this] { received_.notify(); }, Qt::QueuedConnection);
    });
    receive_grace_.setSingleShot(true);
    QObject::connect(&receive_grace_, &QTimer::timeout, &context_, [this] {
        if (reads_waiting_ == 0 && !shut_down_) {
            driver_.setReceiveWanted(usb_handle_, false);
            receive_wanted_ = false;
        }
    });
}

UsbLink::~UsbLink() {
    driver_.setReceiveNotifier({});
    // Let waiting operations end before the members they use go away.
    end_waits();
}

QCoro::Task<bool> UsbLink::configure_usb_connection() {
    if (shut_down_) {
        co_return false;
    }
    const std::int16_t count = search_.FindDevices();
    if (count == 0) {
        log_.show_link_msg(QStringLiteral("Error - Could not find any Nerra Devices through USB"));
        co_return false;
    }
    log_.show_link_msg(QStringLiteral("Found %1 Nerra unit through USB").arg(count));

    const QByteArray chosen = co_await search_.PopUp();
    if (shut_down_) {
        co_return false;
    }
    // The description goes to the driver NUL-terminated; the rest is blanks.
    device_description_.fill(' ');
    const auto length =
        std::min<std::size_t>(static_cast<std::size_t>(chosen.size()), device_description_.size() - 1);
    std::copy_n(chosen.constData(), length, device_description_.begin());
    device_description_[length] = '\0';

    FtHandle opened = usb_handle_;
    if (driver_.openEx(device_description_.data(), ft::OPEN_BY_DESCRIPTION, opened) != ft::OK) {
        log_.show_link_msg(QStringLiteral("Could not open USB Device"));
        co_return false;
    }
    usb_handle_ = opened;
    device_serial_ = search_.serial_of(chosen);
    co_return configure_channel();
}

bool UsbLink::configure_channel() {
    // Each step runs only when the one before it succeeded.
    const auto steps = {
        +[](UsbLink& self) {
            return SettingStep{self.driver_.setBaudRate(self.usb_handle_, kBaudRate),
                               "Could not set the Baud Rate through USB"};
        },
        +[](UsbLink& self) {
            return SettingStep{self.driver_.setDataCharacteristics(self.usb_handle_, ft::BITS_8,
                                                                   ft::STOP_BITS_1, ft::PARITY_NONE),
                               "Could not configure USB connection"};
        },
        +[](UsbLink& self) {
            return SettingStep{self.driver_.setFlowControl(self.usb_handle_, ft::FLOW_NONE, 0, 0),
                               "Could not set flow control"};
        },
        +[](UsbLink& self) {
            return SettingStep{self.driver_.setTimeouts(self.usb_handle_, kDriverReadTimeoutMs, 0),
                               "Could not set the time-outs of the USB connection"};
        },
    };
    for (const auto& step : steps) {
        const SettingStep result = step(*this);
        if (result.status != ft::OK) {
            log_.show_link_msg(QString::fromLatin1(result.failureLine));
            if (driver_.close(usb_handle_) != ft::OK) {
                log_.show_link_msg(QStringLiteral("USB Close Failed"));
            }
            return false;
        }
    }
    (void)driver_.purge(usb_handle_, kPurgeBoth); // its status is of no consequence
    traffic_.add(record::TrafficKind::Purged, nullptr, 0, static_cast<std::uint8_t>(kPurgeBoth));
    receive_wanted_ = true;
    settle_input();
    return true;
}

void UsbLink::want_input() {
    receive_grace_.stop();
    if (!receive_wanted_) {
        driver_.setReceiveWanted(usb_handle_, true);
        receive_wanted_ = true;
    }
}

void UsbLink::settle_input() {
    if (timing_.receiveGrace.count() >= 0 && reads_waiting_ == 0) {
        receive_grace_.start(timing_.receiveGrace);
    }
}

void UsbLink::write_str(const QByteArray& s) {
    if (shut_down_) {
        return;
    }
    want_input(); // for the reply
    std::uint32_t written = 0;
    const auto length = static_cast<std::uint32_t>(s.size());
    if (driver_.write(usb_handle_, s.constData(), length, written) != ft::OK) {
        traffic_.add(record::TrafficKind::WriteFailed, s.constData(), length);
        log_.show_link_msg(QStringLiteral("USB Error - could not write to device"));
    } else {
        traffic_.add(record::TrafficKind::Sent, s.constData(), length);
    }
    settle_input();
}

void UsbLink::send_command(const QByteArray& line) {
    if (!shut_down_) {
        want_input(); // so that what the adapter kept is there to discard
    }
    discard_input();
    write_str(line);
}

QCoro::Task<ReadResult> UsbLink::read_char() {
    ReadResult result; // code 1: time-out
    if (shut_down_) {
        co_return result;
    }
    // The adapter is read while this waits, and for the grace after.
    struct Waiting {
        UsbLink& link;
        explicit Waiting(UsbLink& l) : link(l) {
            ++link.reads_waiting_;
            link.want_input();
        }
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;
        ~Waiting() {
            --link.reads_waiting_;
            link.settle_input();
        }
    } waiting{*this};
    const auto deadline = Clock::now() + timing_.replyTimeout;
    for (;;) {
        if (driver_.getQueueStatus(usb_handle_, rx_queue_count_) != ft::OK) {
            result.code = 4;
            traffic_.add(record::TrafficKind::ReadFailed, nullptr, 0, result.code);
            co_return result;
        }
        // The limit is checked after the poll: a byte seen after it stays queued.
        const auto now = Clock::now();
        if (shut_down_) {
            co_return result;
        }
        if (now >= deadline) {
            traffic_.add(record::TrafficKind::TimedOut);
            co_return result;
        }
        if (rx_queue_count_ >= 1) {
            break;
        }
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (!notifies_) {
            wait = std::min(wait, timing_.pollInterval);
        }
        co_await received_.wait(wait);
    }
    std::uint32_t bytesRead = 0;
    const FtStatus status = driver_.read(usb_handle_, receive_buffer_.data(), 1, bytesRead);
    if (status != ft::OK && status != ft::IO_ERROR) {
        result.code = 3;
    } else if (bytesRead == 0) {
        result.code = 2;
    } else {
        result.code = 0;
        result.ch = receive_buffer_[0];
        traffic_.add(record::TrafficKind::Received, &result.ch, 1);
        co_return result;
    }
    traffic_.add(record::TrafficKind::ReadFailed, nullptr, 0, result.code);
    co_return result;
}

void UsbLink::discard_input() {
    if (shut_down_) {
        return;
    }
    std::uint32_t queued = 0;
    if (driver_.getQueueStatus(usb_handle_, queued) != ft::OK) {
        return;
    }
    while (queued > 0) {
        const auto chunk = std::min<std::uint32_t>(queued, receive_buffer_.size());
        std::uint32_t bytesRead = 0;
        const FtStatus status = driver_.read(usb_handle_, receive_buffer_.data(), chunk, bytesRead);
        if ((status != ft::OK && status != ft::IO_ERROR) || bytesRead == 0) {
            // What cannot be read away is purged, so it is not taken for the
            // next reply.
            (void)driver_.purge(usb_handle_, ft::PURGE_RX);
            traffic_.add(record::TrafficKind::Purged, nullptr, 0, static_cast<std::uint8_t>(ft::PURGE_RX));
            return;
        }
        traffic_.add(record::TrafficKind::Discarded, receive_buffer_.data(), std::min(bytesRead, chunk));
        queued -= std::min(queued, bytesRead);
    }
}

QCoro::Task<> UsbLink::check_usb_connection() {
    if (shut_down_) {
        co_return;
    }
    if (driver_.setFlowControl(usb_handle_, ft::FLOW_NONE, 0, 0) == ft::OK) {
        co_return;
    }
    log_.clear();
    if (driver_.close(usb_handle_) != ft::OK) {
        log_.show_link_msg(QStringLiteral("Trying to close USB Port - Failed"));
    }
    const bool ok = co_await configure_usb_connection();
    if (!ok && !shut_down_) {
        log_.show_link_msg(QStringLiteral("Could not reestablish connection"));
        co_await pause(timing_.reconnectPause);
    }
}

QCoro::Task<> UsbLink::pause(std::chrono::milliseconds duration) {
    if (!shut_down_) {
        co_await shutting_down_.wait(duration);
    }
}

void UsbLink::shut_down() {
    if (shut_down_) {
        return;
    }
    (void)driver_.close(usb_handle_); // a failing close at shut-down is of no consequence
    end_waits();
}

void UsbLink::end_waits() {
    shut_down_ = true;
    operations_.shut_down();
    received_.notify();
    shutting_down_.notify();
}

} // namespace valve::link
