#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

namespace valve::link::libftdi {

// Bytes the reader thread has received and the logic thread has not yet read.
// Gives the D2XX queue semantics: the count is known at once, without USB I/O.
class ReceiveBuffer {
public:
    void append(const std::uint8_t* data, std::size_t size);
    [[nodiscard]] std::size_t size() const;
    // Moves up to `max` bytes into `out`; returns how many.
    std::size_t take(std::uint8_t* out, std::size_t max);
    // Waits until `count` bytes are there, the adapter is lost, or `timeout`
    // has passed; returns the number of bytes then waiting.
    std::size_t waitFor(std::size_t count, std::chrono::milliseconds timeout);
    void clear();

    // The adapter is gone: wakes a waiting read for good.
    void markLost();
    [[nodiscard]] bool lost() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::uint8_t> bytes_;
    bool lost_ = false;
};

} // namespace valve::link::libftdi
