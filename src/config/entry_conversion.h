#pragma once

#include <QStringView>
#include <cstdint>
#include <optional>

namespace valve::config {

// Typed entries of the settings boxes, converted to the one byte a command
// carries. Nothing means the entry reads as a number outside 0..255 (0x00..0xFF):
// it must be refused, not sent.

// The user's decimal separator ("." or "," and so on).
QChar localeDecimalPoint();

// The decimal number the text begins with. Blanks, tabs and line feeds are
// ignored wherever they stand; a sign, a fraction after the decimal point and an exponent
// are read; reading stops at the first character that cannot continue the
// number, and a text that does not begin with a number reads as 0. The number
// is rounded down: "3.9" gives 3, "7abc" 7, "1 2" 12, "abc" and "" 0.
std::optional<std::uint8_t> decimalEntry(QStringView text, QChar decimalPoint = localeDecimalPoint());

// The hexadecimal number formed by the leading hexadecimal digits, upper or
// lower case, blanks ignored; 0 when the text does not begin with one: "5a"
// gives 0x5A, "1G" 0x01.
std::optional<std::uint8_t> hexEntry(QStringView text);

} // namespace valve::config
