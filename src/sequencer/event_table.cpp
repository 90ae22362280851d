#include "event_table.h"

#include <cmath>

namespace valve::sequencer {

std::optional<double> eventTime(const QString& text, const QLocale& locale) {
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int16_t> eventPosition(const QString& text, const QLocale& locale) {
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    // nearbyint under the default rounding mode rounds ties to the even number.
    const double whole = std::nearbyint(value);
    if (whole < 0.0 || whole > 255.0) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(whole);
}

std::chrono::milliseconds toMilliseconds(double seconds) {
    return std::chrono::milliseconds{static_cast<std::int64_t>(std::nearbyint(seconds * 1000.0))};
}

QString formatSeconds(double seconds, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(seconds, 'g', 15);
}

TableCheck checkEventTable(const EventTableView& table, const QLocale& locale) {
    using Outcome = TableCheck::Outcome;
    double previous = 0.0;
    int lastComplete = -1;
    bool gap = false; // an incomplete row seen since the last complete one
    for (int row = 0; row < kEventRows; ++row) {
        const QString timeText = table.timeText(row);
        const QString positionText = table.positionText(row);
        if (timeText.isEmpty() || positionText.isEmpty()) {
            gap = true;
            continue;
        }
        const auto time = eventTime(timeText, locale);
        if (!time) {
            return {Outcome::Unusable, row, -1};
        }
        if (*time > kMaxEventTime) {
            return {Outcome::TooLate, row, -1};
        }
        if (*time < previous) {
            return {Outcome::EarlierThanPrevious, row, -1};
        }
        if (!eventPosition(positionText, locale) || gap) {
            return {Outcome::Unusable, row, -1};
        }
        previous = *time;
        lastComplete = row;
    }
    if (lastComplete < 0) {
        return {Outcome::NoEvents, -1, -1};
    }
    return {Outcome::Ok, -1, lastComplete};
}

} // namespace valve::sequencer
