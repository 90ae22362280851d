#include "sequencer/event_table.h"
#include "sequencer/stored_event_table.h"

#include <gtest/gtest.h>

using namespace valve::sequencer;
using Outcome = TableCheck::Outcome;

namespace {

const QLocale kEnglish{QLocale::English, QLocale::UnitedStates};
const QLocale kGerman{QLocale::German, QLocale::Germany};

TableCheck check(const std::vector<std::pair<QString, QString>>& rows) {
    StoredEventTable table;
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        table.setRow(row, rows[row].first, rows[row].second);
    }
    return checkEventTable(table, kEnglish);
}

TEST(EventTimes, RoundToTheNearestMillisecondWithTiesToEven) {
    EXPECT_EQ(toMilliseconds(0.0004).count(), 0);
    EXPECT_EQ(toMilliseconds(0.0625).count(), 62);
    EXPECT_EQ(toMilliseconds(0.1875).count(), 188);
    EXPECT_EQ(toMilliseconds(kMaxEventTime).count(), 604800000);
}

TEST(EventTimes, ReadAndWrittenWithTheUsersDecimalSeparator) {
    const struct {
        const char* text;
        const QLocale& locale;
        std::optional<double> seconds;
    } cases[] = {
        {"2.5", kEnglish, 2.5}, {"2,5", kGerman, 2.5}, {" 7 ", kEnglish, 7.0}, {"2.5s", kEnglish, {}},
        {"", kEnglish, {}},     {"nan", kEnglish, {}}, {"inf", kEnglish, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(eventTime(QString::fromLatin1(c.text), c.locale), c.seconds) << c.text;
    }
    EXPECT_EQ(formatSeconds(3.0, kEnglish), QStringLiteral("3"));
    EXPECT_EQ(formatSeconds(0.3 - 0.1, kEnglish), QStringLiteral("0.2"));
    EXPECT_EQ(formatSeconds(604800.0, kEnglish), QStringLiteral("604800"));
    EXPECT_EQ(formatSeconds(2.5, kGerman), QStringLiteral("2,5"));
}

TEST(EventPositions, RoundTiesToEvenAndMustFitOneByte) {
    const struct {
        const char* text;
        const QLocale& locale;
        std::optional<int> position;
    } cases[] = {
        {"3", kEnglish, 3},       {"2.5", kEnglish, 2},  {"3.5", kEnglish, 4},    {"3,5", kGerman, 4},
        {"255.4", kEnglish, 255}, {"0", kEnglish, 0},    {"255.5", kEnglish, {}}, {"-1", kEnglish, {}},
        {"70000", kEnglish, {}},  {"two", kEnglish, {}},
    };
    for (const auto& c : cases) {
        const auto position = eventPosition(QString::fromLatin1(c.text), c.locale);
        EXPECT_EQ(position ? std::optional<int>(*position) : std::nullopt, c.position) << c.text;
    }
}

TEST(TableCheck, AcceptsEqualTimesAndEndsAtTheLastCompleteRow) {
    const auto result = check({{"0", "1"}, {"5", "2"}, {"5", "3"}, {"10", "4"}, {"12", ""}, {"", "5"}});
    EXPECT_EQ(result.outcome, Outcome::Ok);
    EXPECT_EQ(result.lastRow, 3);
}

TEST(TableCheck, RefusesRowsThatCannotBeRunTimingFaultsFirst) {
    const struct {
        std::vector<std::pair<QString, QString>> rows;
        Outcome outcome;
    } cases[] = {
        {{{"soon", "1"}}, Outcome::Unusable},
        {{{"1", "1"}, {"2", "256"}}, Outcome::Unusable},
        {{{"1", "x"}}, Outcome::Unusable},
        // Gaps before the last complete row, the first row included.
        {{{"", ""}, {"1", "1"}}, Outcome::Unusable},
        {{{"1", "1"}, {"2", ""}, {"3", "3"}}, Outcome::Unusable},
        // A timing fault of a row comes before its other faults; a negative first time is early.
        {{{"10", "1"}, {"5", "999"}}, Outcome::EarlierThanPrevious},
        {{{"-1", "x"}}, Outcome::EarlierThanPrevious},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows.front().first.toStdString());
        const auto result = check(c.rows);
        EXPECT_EQ(result.outcome, c.outcome);
        if (c.outcome == Outcome::EarlierThanPrevious) {
            EXPECT_EQ(result.row, static_cast<int>(c.rows.size()) - 1);
        }
    }
}

} // namespace
