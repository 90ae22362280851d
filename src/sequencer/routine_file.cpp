#include "routine_file.h"

#include "event_table.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>
#include <optional>

namespace valve::sequencer {

namespace {

RoutineRead refused(const QString& message) {
    return {{}, message};
}

// A text from the file as a message quotes it: a long one is cut short, so
// that a runaway line does not become a runaway message.
QString quoted(const QString& text) {
    constexpr qsizetype kLongest = 40;
    return text.size() <= kLongest ? text : text.left(kLongest) + QStringLiteral("...");
}

// Whether a step's texts, read in `locale`, make a step: the reason they do
// not (without the file and line), or empty with its seconds and target set.
QString checkStep(RoutineStep& step, double previous, const QLocale& locale) {
    const auto seconds = eventTime(step.time, locale);
    if (!seconds) {
        return QStringLiteral("the time \"%1\" is not a number of seconds").arg(quoted(step.time));
    }
    if (*seconds > kMaxEventTime) {
        return QStringLiteral("the time %1 is above 604800 seconds (one week)").arg(quoted(step.time));
    }
    if (*seconds < previous) {
        return QStringLiteral("the time %1 is earlier than the step before it (%2)")
            .arg(quoted(step.time), formatSeconds(previous, locale));
    }
    const auto target = eventPosition(step.position, locale);
    if (!target) {
        return QStringLiteral("the position \"%1\" is not a number from 0 to 255").arg(quoted(step.position));
    }
    step.seconds = *seconds;
    step.target = *target;
    return {};
}

// One line's step, or the reason it is refused (without the file and line).
QString parseStep(const QString& line, double previous, RoutineStep& step) {
    const QStringList fields = line.split(QLatin1Char(','));
    if (fields.size() != 2) {
        return QStringLiteral("expected \"seconds,position\", found \"%1\"").arg(quoted(line));
    }
    step.time = fields[0].trimmed();
    step.position = fields[1].trimmed();
    return checkStep(step, previous, QLocale::c());
}

// A number typed in the format `from`, written in the format `to`.
QString renumbered(const QString& text, const QLocale& from, const QLocale& to) {
    bool ok = false;
    const double value = from.toDouble(text, &ok);
    if (!ok) {
        return text;
    }
    QString same = text;
    same.replace(from.decimalPoint(), to.decimalPoint());
    bool sameOk = false;
    if (to.toDouble(same, &sameOk) == value && sameOk && !same.contains(to.groupSeparator())) {
        return same;
    }
    QLocale plain = to;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(value, 'g', QLocale::FloatingPointShortest);
}

// The first control character of a line (a CR that ends it and a tab, a
// blank, aside), if any: a NUL or an escape has no place in a routine.
std::optional<QChar> controlCharacter(QStringView line) {
    if (line.endsWith(u'\r')) {
        line.chop(1);
    }
    for (const QChar c : line) {
        if (c.category() == QChar::Other_Control && c != u'\t') {
            return c;
        }
    }
    return std::nullopt;
}

} // namespace

RoutineRead parseRoutine(const QByteArray& content, const QString& name) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(content);
    if (utf8.hasError()) {
        return refused(QStringLiteral("%1: not a text file").arg(name));
    }
    RoutineRead read;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const auto where = [&] { return QStringLiteral("%1, line %2: ").arg(name).arg(index + 1); };
        if (const auto control = controlCharacter(lines[index])) {
            const QString code = QString::number(control->unicode(), 16).toUpper().rightJustified(4, u'0');
            return refused(where() + QStringLiteral("holds the control character U+") + code);
        }
        const QString line = lines[index].section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty()) {
            continue;
        }
        if (read.steps.size() == static_cast<std::size_t>(kEventRows)) {
            return refused(where() + QStringLiteral("more than %1 steps").arg(kEventRows));
        }
        RoutineStep step;
        const double previous = read.steps.empty() ? 0.0 : read.steps.back().seconds;
        if (const QString fault = parseStep(line, previous, step); !fault.isEmpty()) {
            return refused(where() + fault);
        }
        read.steps.push_back(step);
    }
    if (read.steps.empty()) {
        return refused(QStringLiteral("%1: holds no steps").arg(name));
    }
    return read;
}

RoutineRead readRoutineFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return refused(QStringLiteral("%1: no such file").arg(path));
    }
    if (info.isDir()) {
        return refused(QStringLiteral("%1: a folder, not a routine file").arg(path));
    }
    if (info.size() > kMaxRoutineFileBytes) {
        return refused(QStringLiteral("%1: too large for a routine file (%2 bytes; at most %3)")
                           .arg(path)
                           .arg(info.size())
                           .arg(kMaxRoutineFileBytes));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return refused(QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString()));
    }
    // A file that grew after the size check is still read no further than the limit.
    const QByteArray content = file.read(kMaxRoutineFileBytes + 1);
    if (content.size() > kMaxRoutineFileBytes) {
        return refused(QStringLiteral("%1: too large for a routine file").arg(path));
    }
    return parseRoutine(content, path);
}

QByteArray formatRoutine(const std::vector<RoutineStep>& steps) {
    QByteArray text;
    for (const RoutineStep& step : steps) {
        text += step.time.toUtf8() + ',' + step.position.toUtf8() + '\n';
    }
    return text;
}

TableRow tableRow(const RoutineStep& step, const QLocale& locale) {
    const QLocale file = QLocale::c();
    return {renumbered(step.time, file, locale), renumbered(step.position, file, locale)};
}

RoutineRead routineFromTable(const std::vector<TableRow>& rows, const QLocale& locale) {
    const auto blank = [](const TableRow& row) {
        return row.time.trimmed().isEmpty() && row.position.trimmed().isEmpty();
    };
    std::size_t used = rows.size();
    while (used > 0 && blank(rows[used - 1])) {
        --used;
    }
    RoutineRead read;
    const QLocale file = QLocale::c();
    for (std::size_t index = 0; index < used; ++index) {
        const QString where = QStringLiteral("event %1: ").arg(index + 1);
        RoutineStep step{rows[index].time.trimmed(), rows[index].position.trimmed()};
        if (step.time.isEmpty() || step.position.isEmpty()) {
            return refused(where + QStringLiteral("a time and a position are both needed"));
        }
        const double previous = read.steps.empty() ? 0.0 : read.steps.back().seconds;
        if (const QString fault = checkStep(step, previous, locale); !fault.isEmpty()) {
            return refused(where + fault);
        }
        step.time = renumbered(step.time, locale, file);
        step.position = renumbered(step.position, locale, file);
        read.steps.push_back(step);
    }
    if (read.steps.empty()) {
        return refused(QStringLiteral("the table holds no events"));
    }
    return read;
}

} // namespace valve::sequencer
