#pragma once

#include <QString>
#include <QStringView>
#include <algorithm>
#include <memory>

namespace valve::fuzz {

// A copy of a text in a heap block of exactly its length, with no terminator
// behind it: a conversion that reads one unit past the end trips
// AddressSanitizer instead of finding the QString's trailing null.
class ExactText {
public:
    explicit ExactText(const QString& text)
        : size_(text.size()), units_(std::make_unique<char16_t[]>(static_cast<std::size_t>(size_))) {
        std::copy(text.utf16(), text.utf16() + size_, units_.get());
    }
    [[nodiscard]] QStringView view() const { return {units_.get(), size_}; }

private:
    qsizetype size_;
    std::unique_ptr<char16_t[]> units_;
};

// The text without the characters that entries ignore wherever they stand.
inline QString withoutBlanks(QString text) {
    text.remove(u' ');
    text.remove(u'\t');
    text.remove(u'\n');
    return text;
}

} // namespace valve::fuzz
