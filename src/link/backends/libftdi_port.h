#pragma once

#include "libftdi_receive_buffer.h"
#include "link/ftdi_driver.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct ftdi_context;

namespace valve::link::libftdi {

// One adapter opened through libftdi1. A reader thread moves received bytes
// into a buffer, so queue status and one-byte reads behave as with D2XX and
// never wait for USB. It reads only while bytes are wanted: in between the
// chip keeps what comes, and the reader sleeps. Settings and writes go to the
// adapter without waiting for the reader's transfer in flight (libusb allows
// transfers on other endpoints meanwhile); only a purge and the fetch when
// bytes are wanted again wait for it, so that no byte slips past them.
class Port {
public:
    // Takes over an opened context. `reattachKernelDriver`: the kernel's
    // serial driver had the interface before we opened it, and gets it back
    // when we close.
    Port(ftdi_context* context, bool reattachKernelDriver);
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    ~Port(); // closes, if close() was not called

    void setReceiveNotifier(std::function<void()> notify);
    // Reading on or off (on after the open). Switched on, it first fetches
    // what the chip kept meanwhile, so the queue status is complete again.
    void setReceiveWanted(bool wanted);

    FtStatus setBaudRate(std::uint32_t baudRate);
    FtStatus setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits, std::uint8_t parity);
    FtStatus setFlowControl(std::uint16_t flowControl, std::uint8_t xon, std::uint8_t xoff);
    FtStatus setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs);
    FtStatus setLatencyTimer(std::uint8_t milliseconds);
    // The chip sends what it holds as soon as `character` arrives.
    FtStatus setEventCharacter(char character);
    FtStatus purge(std::uint32_t mask);
    FtStatus queueStatus(std::uint32_t& rxBytes) const;
    FtStatus read(void* buffer, std::uint32_t bytesToRead, std::uint32_t& bytesRead);
    FtStatus write(const void* buffer, std::uint32_t bytesToWrite, std::uint32_t& bytesWritten);
    // Stops the reader, releases the interface, gives it back to the kernel
    // driver when that had it, and frees the context. IO_ERROR when the
    // adapter was lost.
    FtStatus close();

    [[nodiscard]] bool lost() const { return receive_.lost(); }

private:
    void readLoop();
    // One bulk read (it ends within one latency period of the chip) into the
    // buffer; the bytes it brought, or a libusb error. With readMutex_ held.
    int fetch();
    void noteFailure(int libusbCode);
    void notifyReceived();
    // Runs a libftdi control call; a lost adapter fails without USB traffic.
    template <typename Call> FtStatus control(Call call);

    ftdi_context* context_;
    bool reattachKernelDriver_;
    std::mutex readMutex_; // held for a bulk read and what it brought
    std::vector<unsigned char> chunk_;
    int failures_ = 0; // bulk reads that failed in a row
    std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    bool wanted_ = true; // guarded by stateMutex_; written by the logic thread only
    bool stop_ = false;  // guarded by stateMutex_
    ReceiveBuffer receive_;
    std::chrono::milliseconds readTimeout_{0};
    std::mutex notifyMutex_;
    std::function<void()> notify_;
    std::thread reader_;
};

} // namespace valve::link::libftdi
