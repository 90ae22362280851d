#include "run_history.h"

#include "sequencer/journal_format.h"
#include "sequencer/run_journal.h"

#include <QFile>
#include <QJsonArray>

namespace valve::commands {

namespace {

using sequencer::Journal;
using sequencer::JournalReading;

JournalReading readId(const sequencer::JournalFolder& folder, const QString& id, bool* found = nullptr) {
    QFile file(folder.pathOf(id));
    if (found != nullptr) {
        *found = file.exists();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        JournalReading reading;
        reading.problem = sequencer::JournalProblem::Damaged;
        reading.detail = file.errorString();
        return reading;
    }
    return sequencer::readJournal(file.readAll());
}

QString shownTime(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz 'UTC'"));
}

QString milliseconds(double ms) {
    return QString::number(ms, 'f', 2);
}

QJsonValue deviation(const Journal& journal) {
    const auto largest = journal.largestDeviationMs();
    return largest ? QJsonValue(*largest) : QJsonValue();
}

QJsonObject summary(const QString& id, const Journal& journal) {
    return {{QStringLiteral("id"), id},
            {QStringLiteral("start"), sequencer::journalTime(journal.header.start)},
            {QStringLiteral("routine"), journal.header.routine},
            {QStringLiteral("origin"), journal.header.origin},
            {QStringLiteral("adapter"), journal.header.adapterDescription},
            {QStringLiteral("steps"), static_cast<int>(journal.header.steps.size())},
            {QStringLiteral("steps_done"), journal.stepsDone()},
            {QStringLiteral("state"), sequencer::runState(journal, id)},
            {QStringLiteral("largest_deviation_ms"), deviation(journal)}};
}

QString summaryLine(const QJsonObject& run) {
    const QJsonValue largest = run.value(QStringLiteral("largest_deviation_ms"));
    return QStringList{
        run.value(QStringLiteral("id")).toString(),
        shownTime(QDateTime::fromString(run.value(QStringLiteral("start")).toString(), Qt::ISODateWithMs)),
        run.value(QStringLiteral("routine")).toString().isEmpty()
            ? QStringLiteral("(table)")
            : run.value(QStringLiteral("routine")).toString(),
        QStringLiteral("%1/%2 steps")
            .arg(run.value(QStringLiteral("steps_done")).toInt())
            .arg(run.value(QStringLiteral("steps")).toInt()),
        run.value(QStringLiteral("state")).toString(),
        largest.isDouble() ? QStringLiteral("largest deviation %1 ms").arg(milliseconds(largest.toDouble()))
                           : QStringLiteral("no step sent")}
        .join(u'\t');
}

QString stepLine(const Journal& journal, int index) {
    const sequencer::PlannedStep& planned = journal.header.steps[index];
    QString line = QStringLiteral("step %1/%2  due %3 s  position %4")
                       .arg(index + 1)
                       .arg(journal.header.steps.size())
                       .arg(QString::number(planned.seconds, 'f', 3))
                       .arg(planned.position);
    const auto sent = std::find_if(journal.steps.begin(), journal.steps.end(),
                                   [index](const sequencer::StepRecord& s) { return s.step == index; });
    if (sent == journal.steps.end()) {
        return line + QStringLiteral("  not sent");
    }
    line += QStringLiteral("  sent %1  deviation %2 ms")
                .arg(shownTime(sent->sentAt), milliseconds(sent->deviationMs()));
    if (!sent->answered) {
        return line + QStringLiteral("  no answer before the program ended");
    }
    return line + (sent->reached ? QStringLiteral("  reached") : QStringLiteral("  not reached"));
}

QJsonObject stepJson(const sequencer::StepRecord& s) {
    QJsonObject step{{QStringLiteral("step"), s.step + 1},
                     {QStringLiteral("position"), s.position},
                     {QStringLiteral("due_ms"), s.dueMs},
                     {QStringLiteral("sent_ms"), s.sentMs},
                     {QStringLiteral("sent_at"), sequencer::journalTime(s.sentAt)},
                     {QStringLiteral("deviation_ms"), s.deviationMs()},
                     {QStringLiteral("answered"), s.answered}};
    if (s.answered) {
        step.insert(QStringLiteral("reached"), s.reached);
        step.insert(QStringLiteral("answered_at"), sequencer::journalTime(s.answeredAt));
    }
    if (s.reported) {
        step.insert(QStringLiteral("reported"), *s.reported);
    }
    return step;
}

QJsonObject detail(const QString& id, const Journal& journal) {
    QJsonObject run = summary(id, journal);
    QJsonArray planned;
    for (const sequencer::PlannedStep& p : journal.header.steps) {
        planned.append(
            QJsonObject{{QStringLiteral("seconds"), p.seconds}, {QStringLiteral("position"), p.position}});
    }
    QJsonArray steps;
    for (const sequencer::StepRecord& s : journal.steps) {
        steps.append(stepJson(s));
    }
    QJsonArray holdUps;
    for (const sequencer::HoldUp& h : journal.holdUps) {
        holdUps.append(QJsonObject{{QStringLiteral("before_step"), h.step + 1},
                                   {QStringLiteral("seconds"), h.seconds},
                                   {QStringLiteral("at"), sequencer::journalTime(h.at)}});
    }
    run.insert(QStringLiteral("planned"), planned);
    run.insert(QStringLiteral("sent"), steps);
    run.insert(QStringLiteral("held_up"), holdUps);
    run.insert(QStringLiteral("serial"), journal.header.adapterSerial);
    run.insert(QStringLiteral("program"), journal.header.program);
    run.insert(QStringLiteral("continues"), journal.header.continues);
    if (journal.end) {
        run.insert(QStringLiteral("ended_at"), sequencer::journalTime(journal.end->at));
        run.insert(QStringLiteral("ended_by"), journal.end->by);
        run.insert(QStringLiteral("failure"), journal.end->line);
    }
    return run;
}

QStringList detailLines(const QString& id, const Journal& journal) {
    const sequencer::JournalHeader& h = journal.header;
    QStringList lines{QStringLiteral("run %1: %2").arg(id, sequencer::runState(journal, id)),
                      QStringLiteral("started %1 from %2, routine %3, adapter \"%4\" serial \"%5\"")
                          .arg(shownTime(h.start), h.origin,
                               h.routine.isEmpty() ? QStringLiteral("(table)") : h.routine,
                               h.adapterDescription, h.adapterSerial)};
    if (!h.continues.isEmpty()) {
        lines << QStringLiteral("continues run %1").arg(h.continues);
    }
    for (int i = 0; i < h.steps.size(); ++i) {
        for (const sequencer::HoldUp& holdUp : journal.holdUps) {
            if (holdUp.step == i) {
                lines << QStringLiteral("held up %1 s while the computer was asleep").arg(holdUp.seconds);
            }
        }
        lines << stepLine(journal, i);
    }
    if (journal.end) {
        QString ended = QStringLiteral("ended %1: %2").arg(shownTime(journal.end->at), journal.end->how);
        ended += journal.end->by.isEmpty() ? QString() : QStringLiteral(" by ") + journal.end->by;
        ended += journal.end->line.isEmpty() ? QString() : QStringLiteral(": ") + journal.end->line;
        lines << ended;
    }
    return lines;
}

} // namespace

Outcome listRuns(const sequencer::JournalFolder& folder) {
    Outcome outcome;
    QJsonArray runs;
    for (const QString& id : folder.ids()) {
        const JournalReading reading = readId(folder, id);
        if (reading.problem != sequencer::JournalProblem::None) {
            // Left as it is, and named, so that the operator can look at it.
            runs.append(QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("problem"), reading.detail}});
            outcome.out << QStringLiteral("%1\tcannot be read: %2").arg(id, reading.detail);
            continue;
        }
        const QJsonObject run = summary(id, reading.journal);
        runs.append(run);
        outcome.out << summaryLine(run);
    }
    outcome.values.insert(QStringLiteral("runs"), runs);
    outcome.values.insert(QStringLiteral("folder"), folder.dir());
    return outcome;
}

Outcome showRun(const sequencer::JournalFolder& folder, const QString& id) {
    bool found = false;
    const JournalReading reading = readId(folder, id, &found);
    if (!found) {
        return Outcome::failed(kBadUsage,
                               QStringLiteral("runs show: no run %1 in %2").arg(quoted(id), folder.dir()));
    }
    if (reading.problem != sequencer::JournalProblem::None) {
        return Outcome::failed(
            kUnitFailed,
            QStringLiteral("runs show: %1 cannot be read: %2").arg(folder.pathOf(id), reading.detail));
    }
    Outcome outcome;
    outcome.values.insert(QStringLiteral("run"), detail(id, reading.journal));
    outcome.out = detailLines(id, reading.journal);
    if (reading.torn) {
        outcome.err << QStringLiteral("its last line was cut off and is left out");
    }
    return outcome;
}

} // namespace valve::commands
