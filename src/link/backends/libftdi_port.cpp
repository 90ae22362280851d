#include "libftdi_port.h"

#include "libftdi_support.h"

#include <ftdi.h>
#include <libusb.h>

namespace valve::link::libftdi {

namespace {
// A bulk read returns at the latest after one latency period of the chip; the
// limit only matters when the adapter stops answering, and bounds close().
constexpr int kBulkReadTimeoutMs = 100;
// Bulk reads that fail in a row (other than by a silent chip) before the
// adapter counts as lost, and the pause after each.
constexpr int kFailuresBeforeLost = 5;
constexpr auto kPauseAfterFailure = std::chrono::milliseconds(10);
} // namespace

Port::Port(ftdi_context* context, bool reattachKernelDriver)
    : context_(context), reattachKernelDriver_(reattachKernelDriver), chunk_(context->readbuffer_chunksize) {
    context_->usb_read_timeout = kBulkReadTimeoutMs;
    reader_ = std::thread([this] { readLoop(); });
}

Port::~Port() {
    close();
}

void Port::setReceiveNotifier(std::function<void()> notify) {
    std::lock_guard lock(notifyMutex_);
    notify_ = std::move(notify);
}

void Port::notifyReceived() {
    std::function<void()> notify;
    {
        std::lock_guard lock(notifyMutex_);
        notify = notify_;
    }
    if (notify) {
        notify();
    }
}

void Port::setReceiveWanted(bool wanted) {
    if (context_ == nullptr || wanted == wanted_) {
        return;
    }
    if (wanted && !lost()) {
        std::lock_guard read(readMutex_);
        while (fetch() > 0 && !lost()) {
        }
    }
    {
        std::lock_guard lock(stateMutex_);
        wanted_ = wanted;
    }
    stateChanged_.notify_all();
}

int Port::fetch() {
    // One byte first, so that the call returns with the first transfer that
    // brings any; the rest of that transfer waits in libftdi's own buffer.
    int result = ftdi_read_data(context_, chunk_.data(), 1);
    if (result == 1 && context_->readbuffer_remaining > 0) {
        result +=
            ftdi_read_data(context_, chunk_.data() + 1, static_cast<int>(context_->readbuffer_remaining));
    }
    if (result >= 0) {
        failures_ = 0;
    }
    if (result > 0) {
        receive_.append(chunk_.data(), static_cast<std::size_t>(result));
        notifyReceived();
    } else if (result < 0) {
        noteFailure(result);
    }
    return result;
}

void Port::noteFailure(int libusbCode) {
    if (libusbCode == LIBUSB_ERROR_TIMEOUT) {
        return; // a chip that stays silent shows up as the link's own read time-out
    }
    if (meansAdapterLost(libusbCode) || ++failures_ >= kFailuresBeforeLost) {
        receive_.markLost();
        notifyReceived();
    } else if (libusbCode == LIBUSB_ERROR_PIPE && failures_ == 1) {
        libusb_clear_halt(context_->usb_dev, static_cast<unsigned char>(context_->out_ep)); // the IN endpoint
    }
}

void Port::readLoop() {
    bool moreMayWait = true; // the last read brought bytes: read on, wanted or not
    for (;;) {
        {
            std::unique_lock lock(stateMutex_);
            stateChanged_.wait(lock, [&] { return stop_ || wanted_ || moreMayWait; });
            if (stop_) {
                return;
            }
        }
        int result = 0;
        {
            std::lock_guard read(readMutex_);
            result = fetch();
        }
        if (lost()) {
            return;
        }
        moreMayWait = result > 0;
        if (result < 0) {
            std::unique_lock lock(stateMutex_);
            stateChanged_.wait_for(lock, kPauseAfterFailure, [&] { return stop_; });
        }
    }
}

template <typename Call> FtStatus Port::control(Call call) {
    if (context_ == nullptr || lost()) {
        return ft::IO_ERROR;
    }
    return call() < 0 ? ft::IO_ERROR : ft::OK;
}

FtStatus Port::setBaudRate(std::uint32_t baudRate) {
    if (context_ == nullptr || lost()) {
        return ft::IO_ERROR;
    }
    const int result = ftdi_set_baudrate(context_, static_cast<int>(baudRate));
    if (result == -1) {
        return ft::INVALID_BAUD_RATE;
    }
    return result < 0 ? ft::IO_ERROR : ft::OK;
}

FtStatus Port::setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits, std::uint8_t parity) {
    const auto property = lineProperty(wordLength, stopBits, parity);
    if (!property) {
        return ft::INVALID_PARAMETER;
    }
    return control([&] {
        return ftdi_set_line_property(context_, static_cast<ftdi_bits_type>(property->bits),
                                      static_cast<ftdi_stopbits_type>(property->stopBits),
                                      static_cast<ftdi_parity_type>(property->parity));
    });
}

FtStatus Port::setFlowControl(std::uint16_t flowControl, std::uint8_t xon, std::uint8_t xoff) {
    // D2XX and the chip use the same codes: 0 none, 0x100 RTS/CTS, 0x200
    // DTR/DSR, 0x400 XON/XOFF. This is also the link's liveness probe: it goes
    // to the adapter each time, so an unplugged adapter fails here.
    switch (flowControl) {
    case 0x0000:
    case 0x0100:
    case 0x0200:
        return control([&] { return ftdi_setflowctrl(context_, flowControl); });
    case 0x0400:
        return control([&] { return ftdi_setflowctrl_xonxoff(context_, xon, xoff); });
    default:
        return ft::INVALID_PARAMETER;
    }
}

FtStatus Port::setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) {
    if (context_ == nullptr || lost()) {
        return ft::IO_ERROR;
    }
    readTimeout_ = std::chrono::milliseconds(readTimeoutMs);
    // 0 leaves libftdi's own write limit in place rather than waiting forever.
    if (writeTimeoutMs > 0) {
        context_->usb_write_timeout = static_cast<int>(writeTimeoutMs);
    }
    return ft::OK;
}

FtStatus Port::setLatencyTimer(std::uint8_t milliseconds) {
    return control([&] { return ftdi_set_latency_timer(context_, milliseconds); });
}

FtStatus Port::setEventCharacter(char character) {
    return control([&] { return ftdi_set_event_char(context_, static_cast<unsigned char>(character), 1); });
}

FtStatus Port::purge(std::uint32_t mask) {
    const bool rx = (mask & ft::PURGE_RX) != 0;
    const bool tx = (mask & ft::PURGE_TX) != 0;
    // The read in flight ends first, so nothing from before the purge follows it.
    std::unique_lock read(readMutex_, std::defer_lock);
    if (rx) {
        read.lock();
    }
    return control([&] {
        if (rx) {
            receive_.clear();
        }
        if (rx && tx) {
            return ftdi_tcioflush(context_);
        }
        if (rx) {
            return ftdi_tciflush(context_);
        }
        return tx ? ftdi_tcoflush(context_) : 0;
    });
}

FtStatus Port::queueStatus(std::uint32_t& rxBytes) const {
    if (context_ == nullptr || lost()) {
        return ft::IO_ERROR;
    }
    rxBytes = static_cast<std::uint32_t>(receive_.size());
    return ft::OK;
}

FtStatus Port::read(void* buffer, std::uint32_t bytesToRead, std::uint32_t& bytesRead) {
    bytesRead = 0;
    if (context_ == nullptr) {
        return ft::IO_ERROR;
    }
    // As D2XX: wait for the bytes up to the read time-out. A time-out of 0
    // returns what is there instead of blocking the caller for good.
    if (readTimeout_.count() > 0) {
        receive_.waitFor(bytesToRead, readTimeout_);
    }
    bytesRead = static_cast<std::uint32_t>(receive_.take(static_cast<std::uint8_t*>(buffer), bytesToRead));
    if (bytesRead == 0 && lost()) {
        return ft::IO_ERROR;
    }
    return ft::OK;
}

FtStatus Port::write(const void* buffer, std::uint32_t bytesToWrite, std::uint32_t& bytesWritten) {
    bytesWritten = 0;
    if (context_ == nullptr || lost()) {
        return ft::IO_ERROR;
    }
    const int result =
        ftdi_write_data(context_, static_cast<const unsigned char*>(buffer), static_cast<int>(bytesToWrite));
    if (result < 0) {
        return ft::IO_ERROR;
    }
    bytesWritten = static_cast<std::uint32_t>(result);
    return ft::OK;
}

FtStatus Port::close() {
    if (context_ == nullptr) {
        return ft::INVALID_HANDLE;
    }
    {
        std::lock_guard lock(stateMutex_);
        stop_ = true;
    }
    stateChanged_.notify_all();
    if (reader_.joinable()) {
        reader_.join();
    }
    bool gone = lost();
    libusb_device_handle* usb = context_->usb_dev;
    if (usb != nullptr) {
        const int interfaceNumber = context_->interface;
        // libftdi opened in "detach and reattach" mode, so libusb gives the
        // interface back to the kernel driver on release; the explicit attach
        // covers a libusb that did not.
        gone = libusb_release_interface(usb, interfaceNumber) == LIBUSB_ERROR_NO_DEVICE || gone;
        if (!gone && reattachKernelDriver_ && libusb_kernel_driver_active(usb, interfaceNumber) == 0) {
            libusb_attach_kernel_driver(usb, interfaceNumber);
        }
    }
    ftdi_free(context_); // closes the USB handle
    context_ = nullptr;
    receive_.markLost();
    return gone ? ft::IO_ERROR : ft::OK;
}

} // namespace valve::link::libftdi
