#include "journal_format.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <algorithm>
#include <cmath>

namespace valve::sequencer {

namespace {

const QString kKind = QStringLiteral("kind");
const QString kAt = QStringLiteral("at");
const QString kStep = QStringLiteral("step");

QByteArray line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// The fields of one line, each taken only when it is exactly what it should
// be; the first that is not spoils the line.
class Fields {
public:
    explicit Fields(QJsonObject object) : object_(std::move(object)) {}

    [[nodiscard]] bool ok() const { return ok_; }

    QString text(const QString& key, bool required = true) {
        const QJsonValue value = object_.value(key);
        if (value.isUndefined() && !required) {
            return {};
        }
        ok_ = ok_ && value.isString();
        return value.toString();
    }
    double number(const QString& key, double low, double high) {
        const QJsonValue value = object_.value(key);
        const double n = value.toDouble();
        ok_ = ok_ && value.isDouble() && std::isfinite(n) && n >= low && n <= high;
        return n;
    }
    int whole(const QString& key, int low, int high) {
        const double n = number(key, low, high);
        ok_ = ok_ && std::floor(n) == n;
        return ok_ ? static_cast<int>(n) : 0;
    }
    std::optional<int> optionalWhole(const QString& key, int low, int high) {
        if (object_.value(key).isUndefined()) {
            return std::nullopt;
        }
        return whole(key, low, high);
    }
    QDateTime time(const QString& key) {
        const QDateTime t = QDateTime::fromString(text(key), Qt::ISODateWithMs);
        ok_ = ok_ && t.isValid() && t.timeSpec() == Qt::UTC;
        return t;
    }
    QJsonObject object(const QString& key) {
        const QJsonValue value = object_.value(key);
        ok_ = ok_ && value.isObject();
        return value.toObject();
    }
    QJsonArray array(const QString& key) {
        const QJsonValue value = object_.value(key);
        ok_ = ok_ && value.isArray();
        return value.toArray();
    }
    void fail() { ok_ = false; }

private:
    QJsonObject object_;
    bool ok_ = true;
};

constexpr double kLongestRunMs = 604800.0 * 1000.0 * 4; // far beyond a week: sleeps add to a run
constexpr int kLongestRunS = 604800 * 4;

std::optional<QJsonObject> objectOf(QByteArrayView text) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}

bool readHeader(const QJsonObject& object, JournalHeader& header) {
    Fields f(object);
    header.version = f.whole(QStringLiteral("version"), 1, kJournalVersion);
    const QJsonArray steps = f.array(QStringLiteral("steps"));
    double previous = 0.0;
    for (const QJsonValue& value : steps) {
        Fields step(value.toObject());
        if (!value.isObject()) {
            f.fail();
        }
        const PlannedStep planned{step.number(QStringLiteral("seconds"), previous, 604800.0),
                                  step.whole(QStringLiteral("position"), 0, 255)};
        if (!step.ok()) {
            f.fail();
        }
        previous = planned.seconds;
        header.steps << planned;
    }
    header.routine = f.text(QStringLiteral("routine"));
    const QJsonObject adapter = f.object(QStringLiteral("adapter"));
    Fields a(adapter);
    header.adapterDescription = a.text(QStringLiteral("description"));
    header.adapterSerial = a.text(QStringLiteral("serial"));
    header.program = f.text(QStringLiteral("program"));
    header.start = f.time(QStringLiteral("start"));
    header.bootId = f.text(QStringLiteral("boot_id"));
    header.origin = f.text(QStringLiteral("origin"));
    header.continues = f.text(QStringLiteral("continues"), false);
    return f.ok() && a.ok() && !header.steps.isEmpty();
}

// Reads one line after the header into the journal; false when it cannot be
// read or does not follow from the lines before it.
bool readEntry(const QJsonObject& object, Journal& journal) {
    if (journal.end) {
        return false; // nothing follows the end
    }
    Fields f(object);
    const QString kind = f.text(kKind);
    const int lastStep = static_cast<int>(journal.header.steps.size()) - 1;
    StepRecord* open =
        journal.steps.isEmpty() || journal.steps.last().answered ? nullptr : &journal.steps.last();
    if (kind == QLatin1String("sent")) {
        StepRecord s;
        s.step = f.whole(kStep, journal.steps.isEmpty() ? 0 : journal.steps.last().step + 1, lastStep);
        s.position = f.whole(QStringLiteral("position"), 0, 255);
        s.dueMs = f.number(QStringLiteral("due_ms"), 0, kLongestRunMs);
        s.sentMs = f.number(QStringLiteral("sent_ms"), 0, kLongestRunMs);
        s.sentAt = f.time(kAt);
        journal.steps << s;
        return f.ok() && open == nullptr;
    }
    if (kind == QLatin1String("answered")) {
        if (open == nullptr) {
            return false;
        }
        open->answered = true;
        f.whole(kStep, open->step, open->step);
        const QString result = f.text(QStringLiteral("result"));
        open->reached = result == QLatin1String("reached");
        open->reported = f.optionalWhole(QStringLiteral("reported"), 0, 255);
        open->answeredMs = f.number(QStringLiteral("ms"), open->sentMs, kLongestRunMs);
        open->answeredAt = f.time(kAt);
        return f.ok() && (open->reached || result == QLatin1String("failed"));
    }
    if (kind == QLatin1String("held-up")) {
        const int step = f.whole(kStep, 0, lastStep);
        const int seconds = f.whole(QStringLiteral("seconds"), 1, kLongestRunS);
        journal.holdUps << HoldUp{step, seconds, f.time(kAt)};
        return f.ok();
    }
    if (kind == QLatin1String("end")) {
        JournalEnd end{f.text(QStringLiteral("how")), f.text(QStringLiteral("by"), false),
                       f.text(QStringLiteral("line"), false), f.time(kAt)};
        const QStringList known{kEndCompleted, kEndStopped, kEndFailed, kEndShutDown, kEndAbandoned};
        journal.end = end;
        return f.ok() && known.contains(end.how);
    }
    return false;
}

JournalReading problem(JournalProblem kind, QString detail) {
    JournalReading reading;
    reading.problem = kind;
    reading.detail = std::move(detail);
    return reading;
}

// The first line: a run's header of a version this program can read.
JournalReading readFirst(QByteArrayView first) {
    const auto object = objectOf(first);
    if (!object || object->value(kKind) != QLatin1String("run")) {
        return problem(JournalProblem::NotAJournal, QStringLiteral("not a run journal"));
    }
    const QJsonValue version = object->value(QStringLiteral("version"));
    if (version.isDouble() && version.toDouble() > kJournalVersion) {
        return problem(
            JournalProblem::NewerVersion,
            QStringLiteral("written by a newer version (journal version %1)").arg(version.toDouble()));
    }
    JournalReading reading;
    if (!readHeader(*object, reading.journal.header)) {
        return problem(JournalProblem::Damaged, QStringLiteral("line 1 cannot be read"));
    }
    reading.journal.lastLine = reading.journal.header.start;
    return reading;
}

} // namespace

int Journal::stepsDone() const {
    return static_cast<int>(std::count_if(steps.begin(), steps.end(),
                                          [](const StepRecord& s) { return s.answered && s.reached; }));
}

std::optional<double> Journal::largestDeviationMs() const {
    std::optional<double> largest;
    for (const StepRecord& s : steps) {
        largest = std::max(largest.value_or(s.deviationMs()), s.deviationMs());
    }
    return largest;
}

JournalReading readJournal(QByteArrayView contents) {
    QList<QByteArrayView> lines;
    bool torn = false;
    qsizetype from = 0;
    while (from < contents.size()) {
        const qsizetype newline = contents.indexOf('\n', from);
        if (newline < 0) {
            torn = true; // cut off by a power cut or a crash while it was written
            break;
        }
        lines << contents.sliced(from, newline - from);
        from = newline + 1;
    }
    if (lines.isEmpty()) {
        return problem(JournalProblem::Empty, QStringLiteral("empty"));
    }
    JournalReading reading = readFirst(lines.first());
    if (reading.problem != JournalProblem::None) {
        return reading;
    }
    reading.torn = torn;
    Journal& journal = reading.journal;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const auto object = objectOf(lines[i]);
        if (!object || !readEntry(*object, journal)) {
            return problem(JournalProblem::Damaged, QStringLiteral("line %1 cannot be read").arg(i + 1));
        }
        journal.lastLine = QDateTime::fromString(object->value(kAt).toString(), Qt::ISODateWithMs);
    }
    return reading;
}

QString journalTime(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QByteArray headerLine(const JournalHeader& header) {
    QJsonArray steps;
    for (const PlannedStep& step : header.steps) {
        steps.append(QJsonObject{{QStringLiteral("seconds"), step.seconds},
                                 {QStringLiteral("position"), step.position}});
    }
    QJsonObject object{
        {kKind, QStringLiteral("run")},
        {QStringLiteral("version"), header.version},
        {QStringLiteral("steps"), steps},
        {QStringLiteral("routine"), header.routine},
        {QStringLiteral("adapter"), QJsonObject{{QStringLiteral("description"), header.adapterDescription},
                                                {QStringLiteral("serial"), header.adapterSerial}}},
        {QStringLiteral("program"), header.program},
        {QStringLiteral("start"), journalTime(header.start)},
        {QStringLiteral("boot_id"), header.bootId},
        {QStringLiteral("origin"), header.origin},
    };
    if (!header.continues.isEmpty()) {
        object.insert(QStringLiteral("continues"), header.continues);
    }
    return line(object);
}

QByteArray sentLine(const StepRecord& step) {
    return line({{kKind, QStringLiteral("sent")},
                 {kStep, step.step},
                 {QStringLiteral("position"), step.position},
                 {QStringLiteral("due_ms"), step.dueMs},
                 {QStringLiteral("sent_ms"), step.sentMs},
                 {QStringLiteral("deviation_ms"), step.deviationMs()},
                 {kAt, journalTime(step.sentAt)}});
}

QByteArray answeredLine(const StepRecord& step) {
    QJsonObject object{
        {kKind, QStringLiteral("answered")},
        {kStep, step.step},
        {QStringLiteral("result"), step.reached ? QStringLiteral("reached") : QStringLiteral("failed")},
        {QStringLiteral("ms"), step.answeredMs},
        {kAt, journalTime(step.answeredAt)}};
    if (step.reported) {
        object.insert(QStringLiteral("reported"), *step.reported);
    }
    return line(object);
}

QByteArray holdUpLine(const HoldUp& holdUp) {
    return line({{kKind, QStringLiteral("held-up")},
                 {kStep, holdUp.step},
                 {QStringLiteral("seconds"), holdUp.seconds},
                 {kAt, journalTime(holdUp.at)}});
}

QByteArray endLine(const JournalEnd& end) {
    QJsonObject object{
        {kKind, QStringLiteral("end")}, {QStringLiteral("how"), end.how}, {kAt, journalTime(end.at)}};
    if (!end.by.isEmpty()) {
        object.insert(QStringLiteral("by"), end.by);
    }
    if (!end.line.isEmpty()) {
        object.insert(QStringLiteral("line"), end.line);
    }
    return line(object);
}

} // namespace valve::sequencer
