#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace valve::sequencer {

// A run's journal is a text file of JSON objects, one a line, each written and
// brought to the disk as the run goes: the run's header first, then a line
// when a step's move is sent, one when the unit has answered it, one for each
// hold-up by a sleep of the computer, and one when the run ends. A power cut
// can cut off only the line being written.
inline constexpr int kJournalVersion = 1;

// A step as the table planned it: its time from the start, and the position.
struct PlannedStep {
    double seconds = 0.0;
    int position = 0;
    bool operator==(const PlannedStep&) const = default;
};

struct JournalHeader {
    int version = kJournalVersion;
    QList<PlannedStep> steps;
    QString routine; // the routine file's name; empty when none
    QString adapterDescription;
    QString adapterSerial;
    QString program;   // the program's version
    QDateTime start;   // on the wall clock, UTC
    QString bootId;    // the boot the run was started in
    QString origin;    // where the run was started from: the window, valvectl, through the panel
    QString continues; // the journal this run resumes; empty when none
};

// A step's move, from the line written when it was sent and the line written
// when the unit answered. Times count in milliseconds from the start.
struct StepRecord {
    int step = 0;
    int position = 0;
    double dueMs = 0.0;
    double sentMs = 0.0;
    QDateTime sentAt;
    bool answered = false; // false: sent, and the program ended before the answer
    bool reached = false;
    std::optional<int> reported; // the position the unit reported
    double answeredMs = 0.0;
    QDateTime answeredAt;
    [[nodiscard]] double deviationMs() const { return sentMs - dueMs; }
};

// A step that went late because the computer slept.
struct HoldUp {
    int step = 0;
    qint64 seconds = 0;
    QDateTime at;
};

// How the run ended: "completed", "stopped", "failed", "shut down" or
// "abandoned"; `by` names who stopped or shut it down, `line` what failed.
struct JournalEnd {
    QString how;
    QString by;
    QString line;
    QDateTime at;
};

inline const QString kEndCompleted = QStringLiteral("completed");
inline const QString kEndStopped = QStringLiteral("stopped");
inline const QString kEndFailed = QStringLiteral("failed");
inline const QString kEndShutDown = QStringLiteral("shut down");
inline const QString kEndAbandoned = QStringLiteral("abandoned");

struct Journal {
    JournalHeader header;
    QList<StepRecord> steps; // in the order sent
    QList<HoldUp> holdUps;
    std::optional<JournalEnd> end; // none: the program ended during the run
    QDateTime lastLine;            // when the last whole line was written
    // Steps whose move reached its position.
    [[nodiscard]] int stepsDone() const;
    // The largest deviation of a sent step, in milliseconds; none before the first.
    [[nodiscard]] std::optional<double> largestDeviationMs() const;
};

// What reading a journal found. Anything but None means the file is left as
// it is and nothing of it is used.
enum class JournalProblem {
    None,
    Empty,        // not a byte, or not one whole line
    NotAJournal,  // its first line is not a run's header
    NewerVersion, // written by a newer program, in a form this one does not know
    Damaged,      // a whole line that cannot be read, or that contradicts the lines before it
};

struct JournalReading {
    JournalProblem problem = JournalProblem::None;
    QString detail; // what is wrong, for the operator
    Journal journal;
    bool torn = false; // the last line was cut off and is left out
};

// Reads a journal's contents up to its last whole line. Never guesses: a line
// that is not exactly what a journal holds makes the whole file damaged.
JournalReading readJournal(QByteArrayView contents);

// The lines, each with its newline.
QByteArray headerLine(const JournalHeader& header);
QByteArray sentLine(const StepRecord& step);
QByteArray answeredLine(const StepRecord& step);
QByteArray holdUpLine(const HoldUp& holdUp);
QByteArray endLine(const JournalEnd& end);

// A time on the wall clock as the journal writes it: UTC to the millisecond, with the zone.
QString journalTime(const QDateTime& time);

} // namespace valve::sequencer
