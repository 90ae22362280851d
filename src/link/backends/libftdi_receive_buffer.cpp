#include "libftdi_receive_buffer.h"

namespace valve::link::libftdi {

void ReceiveBuffer::append(const std::uint8_t* data, std::size_t size) {
    {
        std::lock_guard lock(mutex_);
        bytes_.insert(bytes_.end(), data, data + size);
    }
    arrived_.notify_all();
}

std::size_t ReceiveBuffer::size() const {
    std::lock_guard lock(mutex_);
    return bytes_.size();
}

std::size_t ReceiveBuffer::take(std::uint8_t* out, std::size_t max) {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (; n < max && !bytes_.empty(); ++n) {
        out[n] = bytes_.front();
        bytes_.pop_front();
    }
    return n;
}

std::size_t ReceiveBuffer::waitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, timeout, [&] { return lost_ || bytes_.size() >= count; });
    return bytes_.size();
}

void ReceiveBuffer::clear() {
    std::lock_guard lock(mutex_);
    bytes_.clear();
}

void ReceiveBuffer::markLost() {
    {
        std::lock_guard lock(mutex_);
        lost_ = true;
    }
    arrived_.notify_all();
}

bool ReceiveBuffer::lost() const {
    std::lock_guard lock(mutex_);
    return lost_;
}

} // namespace valve::link::libftdi
