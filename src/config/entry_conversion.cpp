#include "entry_conversion.h"

#include <QLocale>
#include <QString>
#include <algorithm>

namespace valve::config {

namespace {

constexpr int kLargest = 255;
// An exponent beyond this outweighs the digits of any text that fits in
// memory, so clamping it changes no result and keeps the arithmetic in range.
constexpr long kExponentClamp = 1'000'000'000'000;

bool ignored(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The characters of the text that take part in reading, blanks left out.
class Reader {
public:
    explicit Reader(QStringView text) : text_(text) { skip(); }
    [[nodiscard]] bool atEnd() const { return pos_ >= text_.size(); }
    [[nodiscard]] QChar peek() const { return atEnd() ? QChar{} : text_[pos_]; }
    void next() {
        ++pos_;
        skip();
    }

private:
    void skip() {
        while (!atEnd() && ignored(text_[pos_])) {
            ++pos_;
        }
    }
    QStringView text_;
    qsizetype pos_ = 0;
};

// A decimal number as read: sign, its significant digits, and where the
// decimal point falls among them (digits before the point).
struct DecimalNumber {
    bool negative = false;
    QString digits;
    long pointAt = 0;
};

DecimalNumber readDecimal(QStringView text, QChar decimalPoint) {
    Reader in(text);
    DecimalNumber number;
    if (in.peek() == u'+' || in.peek() == u'-') {
        number.negative = in.peek() == u'-';
        in.next();
    }
    bool seenDigit = false;
    while (isDigit(in.peek())) {
        // Leading zeros of the whole part carry no weight.
        if (!number.digits.isEmpty() || in.peek() != u'0') {
            number.digits += in.peek();
            ++number.pointAt;
        }
        seenDigit = true;
        in.next();
    }
    if (in.peek() == decimalPoint) {
        in.next();
        while (isDigit(in.peek())) {
            if (number.digits.isEmpty() && in.peek() == u'0') {
                --number.pointAt; // 0.05: the first significant digit sits further right
            } else {
                number.digits += in.peek();
            }
            seenDigit = true;
            in.next();
        }
    }
    // An exponent counts only after a digit and only when digits follow it.
    if (seenDigit && (in.peek() == u'e' || in.peek() == u'E')) {
        in.next();
        bool negativeExponent = false;
        if (in.peek() == u'+' || in.peek() == u'-') {
            negativeExponent = in.peek() == u'-';
            in.next();
        }
        long exponent = 0;
        while (isDigit(in.peek())) {
            exponent = std::min(exponent * 10 + (in.peek().unicode() - u'0'), kExponentClamp);
            in.next();
        }
        number.pointAt += negativeExponent ? -exponent : exponent;
    }
    return number;
}

} // namespace

QChar localeDecimalPoint() {
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 ? point.front() : QChar(u'.');
}

std::optional<std::uint8_t> decimalEntry(QStringView text, QChar decimalPoint) {
    const DecimalNumber number = readDecimal(text, decimalPoint);
    // Whole part and whether anything nonzero follows the point.
    long whole = 0;
    bool fraction = false;
    for (qsizetype i = 0; i < number.digits.size(); ++i) {
        const int digit = number.digits[i].unicode() - u'0';
        if (i < number.pointAt) {
            whole = whole * 10 + digit;
            if (whole > kLargest) {
                return std::nullopt;
            }
        } else if (digit != 0) {
            fraction = true;
        }
    }
    if (!number.digits.isEmpty() && number.pointAt > number.digits.size()) {
        // Trailing zeros implied by the exponent.
        for (long i = number.digits.size(); i < number.pointAt; ++i) {
            whole *= 10;
            if (whole > kLargest) {
                return std::nullopt;
            }
        }
    }
    if (number.negative && (whole > 0 || fraction)) {
        return std::nullopt; // rounded down, any negative number is below 0
    }
    return static_cast<std::uint8_t>(whole);
}

std::optional<std::uint8_t> hexEntry(QStringView text) {
    Reader in(text);
    int value = 0;
    for (;;) {
        const char16_t c = in.peek().unicode();
        int digit = 0;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        } else if (c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else {
            break;
        }
        value = value * 16 + digit;
        if (value > kLargest) {
            return std::nullopt;
        }
        in.next();
    }
    return static_cast<std::uint8_t>(value);
}

} // namespace valve::config
