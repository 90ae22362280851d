#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <cstdint>
#include <vector>

namespace valve::sequencer {

// A routine file: up to twenty steps, one "seconds,position" per line, the
// seconds counted from the start of the run (fractional seconds allowed, with
// a point as decimal separator). "#" starts a comment; blank lines are allowed.
//
//     # flush, then sample
//     0,1
//     2.5,4
//     60,1

inline constexpr qint64 kMaxRoutineFileBytes = qint64{1024} * 1024;

struct RoutineStep {
    QString time;     // as written in the file
    QString position; // as written in the file
    double seconds = 0.0;
    std::int16_t target = 0; // the position, rounded as the sequencer rounds it
};

// What reading a routine found: the steps, or why the file is refused. The
// file is checked completely before any step is returned; `error` names the
// file and, for a bad line, the line.
struct RoutineRead {
    std::vector<RoutineStep> steps;
    QString error;
    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// Checks `content` as the routine file `name`.
RoutineRead parseRoutine(const QByteArray& content, const QString& name);
// Reads and checks the file at `path`; a missing file, a directory, a file
// that cannot be read or one above kMaxRoutineFileBytes is refused unread.
RoutineRead readRoutineFile(const QString& path);
// The file text of `steps`, one "time,position" line each, texts as they are.
QByteArray formatRoutine(const std::vector<RoutineStep>& steps);

// A step as the event table's boxes hold it, and the boxes as a file holds
// them: each text as written, with the point of the file and `locale`'s
// decimal separator (the boxes read numbers in the user's format) changed for
// each other. Where the same characters would not read as the same number in
// the other format (group separators, digits of another script), the number
// is written in the shortest form that reads back exactly.
struct TableRow {
    QString time;
    QString position;
};
TableRow tableRow(const RoutineStep& step, const QLocale& locale = QLocale());

// The routine that the table's rows hold, checked as a file's lines are:
// every row up to the last one with any text must be a step. `error` names
// the row ("event 3: ...") that keeps the table from being saved.
RoutineRead routineFromTable(const std::vector<TableRow>& rows, const QLocale& locale = QLocale());

} // namespace valve::sequencer
