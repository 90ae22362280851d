#pragma once

#include "ftdi_driver.h"
#include "link_timing.h"
#include "operation_queue.h"
#include "record/traffic_record.h"
#include "wake_signal.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <qcoro/qcorotask.h>

namespace valve::record {
class EventLog;
}

namespace valve::link {

class DeviceSearch;

// Result of one read_char: code 0 with the character, or 1..4 for the kinds of
// failure (1 time-out, 2 no byte, 3 read failed, 4 queue status failed).
struct ReadResult {
    std::uint8_t code = 1;
    char ch = '\0';
    [[nodiscard]] bool ok() const { return code == 0; }
};

// The channel to the unit: finds and opens the adapter, sends command lines,
// takes reply characters with a time limit, probes and re-opens. Waits are
// coroutine awaits; whole operations run one at a time through operations().
class UsbLink {
public:
    static constexpr std::uint32_t kBaudRate = 19200;
    static constexpr std::uint32_t kDriverReadTimeoutMs = 3000;
    static constexpr std::uint32_t kPurgeBoth = ft::PURGE_RX | ft::PURGE_TX;

    UsbLink(FtdiDriver& driver, DeviceSearch& search, record::EventLog& log, LinkTiming timing = {});
    UsbLink(const UsbLink&) = delete;
    UsbLink& operator=(const UsbLink&) = delete;
    ~UsbLink();

    QCoro::Task<bool> configure_usb_connection();
    void write_str(const QByteArray& s);
    QCoro::Task<ReadResult> read_char();
    QCoro::Task<> check_usb_connection();

    // Drops whatever already waits in the receive queue, so that a reply that
    // came after an earlier command gave up is not taken for the next one.
    void discard_input();
    // What every command does to send its line: discard stale input, then write.
    void send_command(const QByteArray& line);

    // Waits for `duration` unless the program shuts down first.
    QCoro::Task<> pause(std::chrono::milliseconds duration);

    // Ends everything quietly: closes the channel (status ignored), wakes and
    // refuses every waiting operation; afterwards nothing is sent or read.
    void shut_down();
    [[nodiscard]] bool is_shut_down() const { return shut_down_; }

    [[nodiscard]] OperationQueue& operations() { return operations_; }
    // Every byte written and read, with the operation it belongs to.
    [[nodiscard]] record::TrafficRecord& traffic() { return traffic_; }
    [[nodiscard]] const LinkTiming& timing() const { return timing_; }
    [[nodiscard]] FtHandle usb_handle() const { return usb_handle_; }
    [[nodiscard]] const std::array<char, 256>& device_description() const { return device_description_; }
    // The serial number of the adapter opened last, as the search found it.
    [[nodiscard]] const QByteArray& device_serial() const { return device_serial_; }

private:
    bool configure_channel();
    // From here on nothing is sent; every waiting operation resumes and ends.
    void end_waits();
    void wake_readers() { received_.notify(); }
    // Tells the backend that received bytes are wanted from now on ...
    void want_input();
    // ... and, once the grace has passed without a read, that they are not.
    void settle_input();

    FtdiDriver& driver_;
    DeviceSearch& search_;
    record::EventLog& log_;
    LinkTiming timing_;
    bool notifies_ = false;

    FtHandle usb_handle_ = 0;
    std::array<char, 256> device_description_{};
    QByteArray device_serial_;
    std::array<char, 256> receive_buffer_{};
    std::uint32_t rx_queue_count_ = 0;

    record::TrafficRecord traffic_; // before operations_, which notes each turn in it
    OperationQueue operations_{&traffic_, &log_};
    WakeSignal received_;
    WakeSignal shutting_down_;
    QObject context_; // receives wake-ups posted from a backend's reader thread
    QTimer receive_grace_;
    int reads_waiting_ = 0;
    bool receive_wanted_ = true; // as the backend was last told; it reads after an open
    bool shut_down_ = false;
};

} // namespace valve::link
