#include "routine_file.h"

#include "event_table.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>

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

// One line's step, or the reason it is refused (without the file and line).
QString parseStep(const QString& line, double previous, RoutineStep& step) {
    const QStringList fields = line.split(QLatin1Char(','));
    if (fields.size() != 2) {
        return QStringLiteral("expected \"seconds,position\", found \"%1\"").arg(quoted(line));
    }
    step.time = fields[0].trimmed();
    step.position = fields[1].trimmed();
    const QLocale file = QLocale::c();
    const auto seconds = eventTime(step.time, file);
    if (!seconds) {
        return QStringLiteral("the time \"%1\" is not a number of seconds").arg(quoted(step.time));
    }
    if (*seconds > kMaxEventTime) {
        return QStringLiteral("the time %1 is above 604800 seconds (one week)").arg(quoted(step.time));
    }
    if (*seconds < previous) {
        return QStringLiteral("the time %1 is earlier than the step before it (%2)")
            .arg(quoted(step.time), formatSeconds(previous, file));
    }
    const auto target = eventPosition(step.position, file);
    if (!target) {
        return QStringLiteral("the position \"%1\" is not a number from 0 to 255").arg(quoted(step.position));
    }
    step.seconds = *seconds;
    step.target = *target;
    return {};
}

} // namespace

RoutineRead parseRoutine(const QByteArray& content, const QString& name) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(content);
    if (utf8.hasError() || content.contains('\0')) {
        return refused(QStringLiteral("%1: not a text file").arg(name));
    }
    RoutineRead read;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const QString line = lines[index].section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty()) {
            continue;
        }
        const QString where = QStringLiteral("%1, line %2: ").arg(name).arg(index + 1);
        if (read.steps.size() == static_cast<std::size_t>(kEventRows)) {
            return refused(where + QStringLiteral("more than %1 steps").arg(kEventRows));
        }
        RoutineStep step;
        const double previous = read.steps.empty() ? 0.0 : read.steps.back().seconds;
        if (const QString fault = parseStep(line, previous, step); !fault.isEmpty()) {
            return refused(where + fault);
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
    return {formatSeconds(step.seconds, locale), QString::number(step.target)};
}

} // namespace valve::sequencer
