#include "config/entry_conversion.h"

#include <QLocale>
#include <QString>
#include <gtest/gtest.h>

using valve::config::decimalEntry;
using valve::config::hexEntry;

namespace {

struct Case {
    const char* text;
    std::optional<int> value; // nothing: refused as out of range
};

std::optional<int> widen(std::optional<std::uint8_t> v) {
    return v ? std::optional<int>(*v) : std::nullopt;
}

TEST(DecimalEntry, ReadsTheNumberTheTextBeginsWithAndRefusesWhatIsOutsideTheByte) {
    const Case cases[] = {
        {"12", 12},       {"", 0},         {"abc", 0},        {"7abc", 7},  {"3.9", 3},     {"1 2", 12},
        {" \t1\n2 ", 12}, {"+8", 8},       {"-0", 0},         {"-0.0", 0},  {"255", 255},   {"255.99", 255},
        {"0.05", 0},      {".5", 0},       {"007", 7},        {"1e2", 100}, {"2.5E1", 25},  {"1e", 1},
        {"1e+", 1},       {"5e-1", 0},     {"1 e 2", 100},    {"1.2.3", 1}, {"+-5", 0},     {"-", 0},
        {".", 0},         {"e5", 0},       {"0e99999999", 0}, {"12,5", 12}, {"\r5", 0},     {"25 5", 255},
        {"256", {}},      {"-1", {}},      {"-0.5", {}},      {"1e3", {}},  {"2.56e2", {}}, {"100 0", {}},
        {"1e400", {}},    {"-1e-400", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(widen(decimalEntry(QString::fromLatin1(c.text))), c.value) << '"' << c.text << '"';
    }
}

TEST(DecimalEntry, LongAndStrangeTextsEndCleanlyAndTheUsersDecimalSeparatorIsFollowed) {
    EXPECT_EQ(widen(decimalEntry(QString(100000, u'0') + QStringLiteral("42"))), 42);
    EXPECT_EQ(widen(decimalEntry("0." + QString(100000, u'9'))), 0);
    // An exponent larger than any short clamp still has to outweigh the digits.
    EXPECT_EQ(decimalEntry("0." + QString(150000, u'0') + QStringLiteral("1e200000")), std::nullopt);
    EXPECT_EQ(widen(decimalEntry("1" + QString(150000, u'0') + QStringLiteral("e-200000"))), 0);
    EXPECT_EQ(widen(decimalEntry("1e" + QString(1000, u'9'))), std::nullopt);
    EXPECT_EQ(widen(decimalEntry("1e-" + QString(1000, u'9'))), 0);
    EXPECT_EQ(widen(decimalEntry(QString(5000, u' '))), 0);
    EXPECT_EQ(widen(decimalEntry(QString(29, u'9'))), std::nullopt);
    // Digits of other scripts are not decimal digits here.
    EXPECT_EQ(widen(decimalEntry(QStringLiteral("\u0663"))), 0);
    EXPECT_EQ(widen(decimalEntry(QStringLiteral("\uFF11\uFF12"))), 0);

    EXPECT_EQ(widen(decimalEntry(QStringLiteral("3,9"), u',')), 3);
    EXPECT_EQ(widen(decimalEntry(QStringLiteral("2,5e2"), u',')), 250);
    // With a comma as separator a point ends the number like any other character.
    EXPECT_EQ(widen(decimalEntry(QStringLiteral("1.5e2"), u',')), 1);

    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(widen(decimalEntry(QStringLiteral("2,5e2"))), 250);
    QLocale::setDefault(before);
}

TEST(HexEntry, ReadsTheLeadingHexadecimalDigits) {
    const Case cases[] = {
        {"5a", 0x5A}, {"5A", 0x5A},          {"FF", 0xFF},          {"1G", 0x01},       {"", 0},
        {"G1", 0},    {"f f", 0xFF},         {" 0 7 ", 7},          {"000000ab", 0xAB}, {"-5", 0},
        {"0x10", 0},  {"100", std::nullopt}, {"fff", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(widen(hexEntry(QString::fromLatin1(c.text))), c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(widen(hexEntry(QString(100000, u'f'))), std::nullopt);
}

} // namespace
