// The hexadecimal entry of the I2C address box. The input is read as UTF-8
// text.

#include "config/entry_conversion.h"
#include "exact_text.h"
#include "fuzz_check.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>

using valve::config::hexEntry;
using valve::fuzz::ExactText;
using Entry = std::optional<std::uint8_t>;

namespace {

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') {
        return u - u'0';
    }
    if (u >= u'a' && u <= u'f') {
        return u - u'a' + 10;
    }
    if (u >= u'A' && u <= u'F') {
        return u - u'A' + 10;
    }
    return -1;
}

// The leading run of hexadecimal digits of a blank-free text: leading zeros
// aside, more than two digits are beyond a byte.
Entry referenceReading(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == u'0') {
        ++i;
    }
    int value = 0;
    int significant = 0;
    for (; i < text.size() && hexDigit(text[i]) >= 0; ++i) {
        value = value * 16 + hexDigit(text[i]);
        if (++significant > 2) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint8_t>(value);
}

Entry convert(const QString& text) {
    const ExactText exact(text);
    return hexEntry(exact.view());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const Entry result = convert(text);
    const QString compact = valve::fuzz::withoutBlanks(text);

    FUZZ_CHECK(convert(compact) == result);
    FUZZ_CHECK(result == referenceReading(compact));
    FUZZ_CHECK(convert(text + u'G') == result);
    FUZZ_CHECK(convert(text + u'\r') == result);
    const ExactText exact(text + QStringLiteral("ff"));
    FUZZ_CHECK(hexEntry(exact.view().first(text.size())) == result);

    // Two digits as the panel itself writes them, in either case, read back.
    if (size >= 1) {
        const QString upper = QString::asprintf("%02X", data[0]);
        FUZZ_CHECK(convert(upper) == Entry{data[0]});
        FUZZ_CHECK(convert(upper.toLower()) == Entry{data[0]});
        FUZZ_CHECK(convert(QStringLiteral(" 0") + upper.left(1) + u' ' + upper.mid(1)) == Entry{data[0]});
    }
    if (size >= 2) {
        const unsigned number = (data[0] << 8 | data[1]) & 0xFFFU;
        const Entry threeDigits = convert(QString::asprintf("%03x", number));
        FUZZ_CHECK(number <= 0xFF ? threeDigits == Entry{static_cast<std::uint8_t>(number)} : !threeDigits);
    }
    return 0;
}
