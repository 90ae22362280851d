#pragma once

#include "ftdi_driver.h"
#include "libftdi_receive_buffer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

struct ftdi_context;

namespace valve::link::libftdi {

// One adapter opened through libftdi1. A reader thread moves received bytes
// into a buffer, so queue status and one-byte reads behave as with D2XX and
// never wait for USB. The logic thread and the reader share the libftdi
// context under one lock; the reader steps aside while a call waits for it.
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

    FtStatus setBaudRate(std::uint32_t baudRate);
    FtStatus setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits, std::uint8_t parity);
    FtStatus setFlowControl(std::uint16_t flowControl, std::uint8_t xon, std::uint8_t xoff);
    FtStatus setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs);
    FtStatus setLatencyTimer(std::uint8_t milliseconds);
    FtStatus purge(std::uint32_t mask);
    FtStatus queueStatus(std::uint32_t& rxBytes) const;
    FtStatus read(void* buffer, std::uint32_t bytesToRead, std::uint32_t& bytesRead);
    FtStatus write(const void* buffer, std::uint32_t bytesToWrite, std::uint32_t& bytesWritten);
    // Stops the reader, releases the interface, gives it back to the kernel
    // driver when that had it, and frees the context.
    FtStatus close();

    [[nodiscard]] bool lost() const { return receive_.lost(); }

private:
    // Holds the context lock; makes the reader thread yield while taken.
    class ContextLock {
    public:
        explicit ContextLock(Port& port);
        ~ContextLock();
        ContextLock(const ContextLock&) = delete;
        ContextLock& operator=(const ContextLock&) = delete;

    private:
        Port& port_;
    };

    void readLoop();
    void notifyReceived();
    // Runs a libftdi control call; a lost adapter fails without USB traffic.
    template <typename Call> FtStatus control(Call call);

    ftdi_context* context_;
    bool reattachKernelDriver_;
    std::mutex contextMutex_;
    std::atomic<int> callsWaiting_{0};
    std::atomic<bool> stop_{false};
    ReceiveBuffer receive_;
    std::chrono::milliseconds readTimeout_{0};
    std::mutex notifyMutex_;
    std::function<void()> notify_;
    std::thread reader_;
};

} // namespace valve::link::libftdi
