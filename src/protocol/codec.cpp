#include "codec.h"

namespace valve::protocol {

namespace {
char nibbleDigit(unsigned nibble) {
    return static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + (nibble - 10));
}
} // namespace

QByteArray byte2hex(std::uint8_t value) {
    return QByteArray{} + nibbleDigit(value / 16U) + nibbleDigit(value % 16U);
}

QByteArray word2hex(std::uint16_t value) {
    return byte2hex(static_cast<std::uint8_t>(value / 256U)) +
           byte2hex(static_cast<std::uint8_t>(value % 256U));
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return 0;
}

QByteArray commandLine(char code) {
    return QByteArray{} + code + kCarriageReturn;
}

QByteArray commandLine(char code, std::uint8_t argument) {
    return QByteArray{} + code + byte2hex(argument) + kCarriageReturn;
}

} // namespace valve::protocol
