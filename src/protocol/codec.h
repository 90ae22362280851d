#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>

namespace valve::protocol {

inline constexpr char kCarriageReturn = '\r';

// Two upper-case hexadecimal digits, zero-padded: 10 gives "0A".
QByteArray byte2hex(std::uint8_t value);
// Four digits: byte2hex of the high byte, then of the low byte.
QByteArray word2hex(std::uint16_t value);

// The value of a reply character as a hexadecimal digit; anything else is 0.
int hexDigitValue(char c);

// A command line: the code, the optional argument, CR.
QByteArray commandLine(char code);
QByteArray commandLine(char code, std::uint8_t argument);

// The three reply characters of the last exchange. Slot k holds the k-th
// character read; a slot that the last exchange did not reach keeps what an
// earlier exchange left there.
struct ReplyBuffer {
    std::array<char, 3> slot{};
    // 16 x the first digit + the second: always 0..255.
    [[nodiscard]] int value() const { return 16 * hexDigitValue(slot[0]) + hexDigitValue(slot[1]); }
    // The first two characters as received.
    [[nodiscard]] QByteArray digits() const { return {slot.data(), 2}; }
};

} // namespace valve::protocol
