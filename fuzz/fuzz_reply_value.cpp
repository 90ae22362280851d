// Reply decoding and the hexadecimal codecs: the first three input bytes are
// taken as a reply, the first 64 bytes one by one and in pairs as values to
// encode.

#include "fuzz_check.h"
#include "protocol/codec.h"

#include <QByteArray>
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>

using valve::protocol::byte2hex;
using valve::protocol::hexDigitValue;
using valve::protocol::ReplyBuffer;
using valve::protocol::word2hex;

namespace {

// The digit's value read by the standard library; 0 for anything else.
int referenceDigit(char c) {
    int value = 0;
    const auto [end, error] = std::from_chars(&c, &c + 1, value, 16);
    return error == std::errc{} && end == &c + 1 ? value : 0;
}

bool isUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int decode(char high, char low) {
    ReplyBuffer reply;
    reply.slot = {high, low, '\r'};
    return reply.value();
}

void checkReply(const std::uint8_t* data, std::size_t size) {
    ReplyBuffer reply;
    for (std::size_t k = 0; k < reply.slot.size() && k < size; ++k) {
        reply.slot[k] = static_cast<char>(data[k]);
    }
    const int value = reply.value();
    FUZZ_CHECK(value >= 0 && value <= 255);
    FUZZ_CHECK(value == 16 * referenceDigit(reply.slot[0]) + referenceDigit(reply.slot[1]));
    FUZZ_CHECK(reply.digits() == QByteArray(reply.slot.data(), 2));

    // The third character never counts.
    ReplyBuffer otherThird = reply;
    otherThird.slot[2] = static_cast<char>(reply.slot[2] ^ 0x5A);
    FUZZ_CHECK(otherThird.value() == value);
}

void checkByte(std::uint8_t value) {
    const QByteArray hex = byte2hex(value);
    FUZZ_CHECK(hex.size() == 2);
    FUZZ_CHECK(isUpperHexDigit(hex[0]) && isUpperHexDigit(hex[1]));
    FUZZ_CHECK(hexDigitValue(hex[0]) * 16 + hexDigitValue(hex[1]) == value);
    FUZZ_CHECK(decode(hex[0], hex[1]) == value);
    // A unit answering in lower case means the same number.
    const QByteArray lower = hex.toLower();
    FUZZ_CHECK(decode(lower[0], lower[1]) == value);
}

void checkWord(std::uint16_t value) {
    const QByteArray hex = word2hex(value);
    FUZZ_CHECK(hex.size() == 4);
    FUZZ_CHECK(hex == byte2hex(static_cast<std::uint8_t>(value >> 8)) +
                          byte2hex(static_cast<std::uint8_t>(value & 0xFF)));
    FUZZ_CHECK(decode(hex[0], hex[1]) * 256 + decode(hex[2], hex[3]) == value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkReply(data, size);
    // The codecs have small domains; a few values per input cover them quickly.
    size = std::min<std::size_t>(size, 64);
    for (std::size_t i = 0; i < size; ++i) {
        checkByte(data[i]);
    }
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        checkWord(static_cast<std::uint16_t>(data[i] << 8 | data[i + 1]));
    }
    return 0;
}
