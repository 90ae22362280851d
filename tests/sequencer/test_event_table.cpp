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

TEST(EventTimes, FollowTheUsersDecimalSeparator) {
    EXPECT_EQ(eventTime(QStringLiteral("2.5"), kEnglish), 2.5);
    EXPECT_EQ(eventTime(QStringLiteral("2,5"), kGerman), 2.5);
    EXPECT_EQ(eventTime(QStringLiteral(" 7 "), kEnglish), 7.0);
    EXPECT_FALSE(eventTime(QStringLiteral("2.5s"), kEnglish));
    EXPECT_FALSE(eventTime(QStringLiteral(""), kEnglish));
    EXPECT_FALSE(eventTime(QStringLiteral("nan"), kEnglish));
    EXPECT_FALSE(eventTime(QStringLiteral("inf"), kEnglish));
}

TEST(EventTimes, AreWrittenInTheShortestGeneralForm) {
    EXPECT_EQ(formatSeconds(2.5, kEnglish), QStringLiteral("2.5"));
    EXPECT_EQ(formatSeconds(3.0, kEnglish), QStringLiteral("3"));
    EXPECT_EQ(formatSeconds(0.3 - 0.1, kEnglish), QStringLiteral("0.2"));
    EXPECT_EQ(formatSeconds(604800.0, kEnglish), QStringLiteral("604800"));
    EXPECT_EQ(formatSeconds(2.5, kGerman), QStringLiteral("2,5"));
}

TEST(EventPositions, RoundTiesToEvenAndMustFitOneByte) {
    EXPECT_EQ(eventPosition(QStringLiteral("3"), kEnglish), 3);
    EXPECT_EQ(eventPosition(QStringLiteral("2.5"), kEnglish), 2);
    EXPECT_EQ(eventPosition(QStringLiteral("3.5"), kEnglish), 4);
    EXPECT_EQ(eventPosition(QStringLiteral("3,5"), kGerman), 4);
    EXPECT_EQ(eventPosition(QStringLiteral("255.4"), kEnglish), 255);
    EXPECT_EQ(eventPosition(QStringLiteral("0"), kEnglish), 0);
    EXPECT_FALSE(eventPosition(QStringLiteral("255.5"), kEnglish));
    EXPECT_FALSE(eventPosition(QStringLiteral("-1"), kEnglish));
    EXPECT_FALSE(eventPosition(QStringLiteral("70000"), kEnglish));
    EXPECT_FALSE(eventPosition(QStringLiteral("two"), kEnglish));
}

TEST(TableCheck, AcceptsEqualTimesAndEndsAtTheLastCompleteRow) {
    const auto result = check({{"0", "1"}, {"5", "2"}, {"5", "3"}, {"10", "4"}, {"12", ""}, {"", "5"}});
    EXPECT_EQ(result.outcome, Outcome::Ok);
    EXPECT_EQ(result.lastRow, 3);
}

TEST(TableCheck, RefusesRowsThatCannotBeRun) {
    EXPECT_EQ(check({{"soon", "1"}}).outcome, Outcome::Unusable);
    EXPECT_EQ(check({{"1", "1"}, {"2", "256"}}).outcome, Outcome::Unusable);
    EXPECT_EQ(check({{"1", "x"}}).outcome, Outcome::Unusable);
    // Gaps before the last complete row, the first row included.
    EXPECT_EQ(check({{"", ""}, {"1", "1"}}).outcome, Outcome::Unusable);
    EXPECT_EQ(check({{"1", "1"}, {"2", ""}, {"3", "3"}}).outcome, Outcome::Unusable);
}

TEST(TableCheck, ATimingFaultOfARowComesBeforeItsOtherFaults) {
    const auto result = check({{"10", "1"}, {"5", "999"}});
    EXPECT_EQ(result.outcome, Outcome::EarlierThanPrevious);
    EXPECT_EQ(result.row, 1);
    // A negative first time is earlier than the start.
    const auto negative = check({{"-1", "x"}});
    EXPECT_EQ(negative.outcome, Outcome::EarlierThanPrevious);
    EXPECT_EQ(negative.row, 0);
}

} // namespace
