// The decimal entry of the port-position and operational-mode boxes. The
// input is read as UTF-8 text, once with "." and once with "," as the
// decimal separator.

#include "config/entry_conversion.h"
#include "exact_text.h"
#include "fuzz_check.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

using valve::config::decimalEntry;
using valve::fuzz::ExactText;
using Entry = std::optional<std::uint8_t>;

namespace {

constexpr long kLargestExponent = 1000;
constexpr std::size_t kLargestMantissa = 18; // significant digits that fit a 64-bit number

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// A second reading of a blank-free text, done with plain integer arithmetic:
// the number is (significant digits) x 10^scale, rounded down. It decides only
// texts whose significant digits fit 64 bits and whose exponent is moderate;
// for the others it returns nothing and the conversion goes unchecked here.
std::optional<Entry> referenceReading(QStringView text, QChar point) {
    qsizetype i = 0;
    const auto at = [&](qsizetype k) { return k < text.size() ? text[k] : QChar{}; };
    bool negative = false;
    if (at(i) == u'+' || at(i) == u'-') {
        negative = at(i) == u'-';
        ++i;
    }
    std::string digits;
    long fractionDigits = 0;
    for (; isDigit(at(i)); ++i) {
        digits += static_cast<char>(at(i).unicode());
    }
    if (at(i) == point) {
        for (++i; isDigit(at(i)); ++i) {
            digits += static_cast<char>(at(i).unicode());
            ++fractionDigits;
        }
    }
    if (digits.empty()) {
        return Entry{0}; // not a number at all
    }
    long exponent = 0;
    if (at(i) == u'e' || at(i) == u'E') {
        qsizetype k = i + 1;
        const bool negativeExponent = at(k) == u'-';
        if (at(k) == u'+' || at(k) == u'-') {
            ++k;
        }
        for (; isDigit(at(k)); ++k) {
            exponent = exponent * 10 + (at(k).unicode() - u'0');
            if (exponent > kLargestExponent) {
                return std::nullopt;
            }
        }
        exponent = negativeExponent ? -exponent : exponent;
    }
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        return Entry{0}; // zero, with any sign
    }
    const std::size_t last = digits.find_last_not_of('0');
    const std::string significant = digits.substr(first, last - first + 1);
    if (significant.size() > kLargestMantissa) {
        return std::nullopt;
    }
    if (negative) {
        return Entry{}; // below zero once rounded down
    }
    const long scale = exponent - fractionDigits + static_cast<long>(digits.size() - 1 - last);
    std::uint64_t value = std::stoull(significant);
    if (scale >= 0) {
        for (long k = 0; k < scale && value <= 255; ++k) {
            value *= 10;
        }
    } else {
        for (long k = 0; k < -scale && value > 0; ++k) {
            value /= 10;
        }
    }
    return value <= 255 ? Entry{static_cast<std::uint8_t>(value)} : Entry{};
}

void checkText(const QString& text, QChar point) {
    const auto convert = [point](const QString& t) { return decimalEntry(ExactText(t).view(), point); };
    const Entry result = convert(text);
    const QString compact = valve::fuzz::withoutBlanks(text);

    // Blanks, tabs and line feeds count nowhere.
    FUZZ_CHECK(convert(compact) == result);
    if (const std::optional<Entry> expected = referenceReading(compact, point)) {
        FUZZ_CHECK(result == *expected);
    }
    // A character that continues no number ends the reading wherever it comes.
    FUZZ_CHECK(convert(text + u'x') == result);
    FUZZ_CHECK(convert(text + u'\r') == result);
    // The conversion keeps to its view even when more text follows in memory.
    const ExactText exact(text + QStringLiteral("99"));
    FUZZ_CHECK(decimalEntry(exact.view().first(text.size()), point) == result);
    // A minus sign leaves only zero or a refusal; a plus sign changes nothing.
    if (compact.startsWith(u'-')) {
        FUZZ_CHECK(!result || *result == 0);
    }
    if (!compact.startsWith(u'+') && !compact.startsWith(u'-')) {
        FUZZ_CHECK(convert(u'+' + text) == result);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkText(text, u'.');
    checkText(text, u',');

    // A text of decimal digits alone converts to its number, or is refused
    // beyond 255.
    if (size >= 2) {
        const unsigned number = (data[0] << 8 | data[1]) % 1000U;
        const Entry digitsOnly = decimalEntry(ExactText(QString::number(number)).view());
        FUZZ_CHECK(number <= 255 ? digitsOnly == Entry{static_cast<std::uint8_t>(number)} : !digitsOnly);
        FUZZ_CHECK(decimalEntry(QStringLiteral("00") + QString::number(number)) == digitsOnly);
    }
    return 0;
}
