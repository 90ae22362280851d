#pragma once

#include "memory_editor.h"
#include "operation_lifetime.h"

#include <QString>
#include <array>
#include <cstdint>
#include <qcoro/qcorotask.h>

namespace valve::protocol {
class TextField;
struct Session;
} // namespace valve::protocol

namespace valve::config {

// The unit's error stack: five bytes at 0x07..0x0B, shown in decimal in five
// boxes. Reading fills the boxes; clearing writes 0 into each entry and reads
// it back, leaving the boxes as they are. Each is one operation on the link.
class ErrorStack {
public:
    static constexpr int kEntries = 5;
    static constexpr std::uint8_t kFirstAddress = 0x07;

    static const QString kReading;
    static const QString kClearing;

    explicit ErrorStack(std::array<protocol::TextField*, kEntries> boxes) : boxes_(boxes) {}
    ErrorStack(const ErrorStack&) = delete;
    ErrorStack& operator=(const ErrorStack&) = delete;

    [[nodiscard]] static std::uint8_t addressOf(int entry) {
        return static_cast<std::uint8_t>(kFirstAddress + entry);
    }

    // How a read ended, and the entries it read by then.
    struct Read {
        MemoryOutcome outcome = MemoryOutcome::EndedQuietly;
        std::array<std::uint8_t, kEntries> entries{};
    };
    QCoro::Task<Read> read(protocol::Session& session, protocol::TextField& stat);
    QCoro::Task<MemoryOutcome> clear(protocol::Session& session, protocol::TextField& stat);

    // The window closes: running operations end quietly at their next step.
    void endOperations() { lifetime_.end(); }

private:
    std::array<protocol::TextField*, kEntries> boxes_;
    OperationLifetime lifetime_;
};

} // namespace valve::config
