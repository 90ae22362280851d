#pragma once

#include <QLocale>
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>

namespace valve::sequencer {

inline constexpr int kEventRows = 20;
// One week: the latest time an event may have, in seconds.
inline constexpr double kMaxEventTime = 604800.0;

// How a row of the event table looks.
enum class RowLook {
    Idle,    // label and boxes normal, boxes enabled
    Current, // its wait has begun: bold label and time box, time box disabled
    Done,    // its move succeeded: everything bold, both boxes disabled
};

// What a run tells of a step as it goes, for those who follow the run from
// elsewhere (a progress line, a remote caller). Times count from the start of
// the run.
struct StepReport {
    enum class Phase {
        Waiting, // the step's wait has begun
        Moved,   // its move has ended; `reached` tells how
    };
    Phase phase = Phase::Waiting;
    int row = 0;
    std::chrono::nanoseconds due{0}; // when the step is due
    std::chrono::nanoseconds at{0};  // when its wait, or its move, began
    std::int16_t position = 0;       // Moved only
    bool reached = false;            // Moved only
};

// The "Timed Events" tab as the sequencer sees it. The boxes are the only
// storage of the table: the sequencer reads a text when it needs it.
class EventTableView {
public:
    virtual ~EventTableView() = default;

    [[nodiscard]] virtual QString timeText(int row) const = 0;
    [[nodiscard]] virtual QString positionText(int row) const = 0;
    virtual void setRowLook(int row, RowLook look) = 0;
    virtual void setRunEnabled(bool enabled) = 0;
    virtual void setStopEnabled(bool enabled) = 0;
    // The "Current Position" box.
    virtual void setCurrentPosition(const QString& text) = 0;
    // Each step's progress; the tab itself shows it through the row looks.
    virtual void reportStep(const StepReport& /*report*/) {}
};

// Texts typed into the boxes, converted with the user's decimal separator.
// An empty result means the text is not a usable value.
std::optional<double> eventTime(const QString& text, const QLocale& locale = QLocale());
// A position rounded to the nearest whole number (ties to the even one) and
// within what one byte on the wire can carry, 0 to 255.
std::optional<std::int16_t> eventPosition(const QString& text, const QLocale& locale = QLocale());

// Seconds to whole milliseconds, ties to the even millisecond.
std::chrono::milliseconds toMilliseconds(double seconds);

// A number of seconds in the shortest general form (at most 15 significant
// digits, no trailing zeros), with the user's decimal separator.
QString formatSeconds(double seconds, const QLocale& locale = QLocale());

// What the check of the table before a run found.
struct TableCheck {
    enum class Outcome {
        Ok,
        TooLate, // a time above one week
        EarlierThanPrevious,
        NoEvents, // no complete row at all
        Unusable, // a value that cannot be run, or a gap before the last complete row
    };
    Outcome outcome = Outcome::Ok;
    int row = -1;     // the row at fault, for the two timing faults
    int lastRow = -1; // the last complete row when the table is Ok
};

// Checks the whole table: every complete row must have a time of 0 to one
// week, not below the previous row's, and a usable position; every row up to
// the last complete one must be complete. Rows after it are not looked at.
TableCheck checkEventTable(const EventTableView& table, const QLocale& locale = QLocale());

} // namespace valve::sequencer
