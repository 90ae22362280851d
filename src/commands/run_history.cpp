#include "run_history.h"

#include "command_core.h"
#include "sequencer/journal_format.h"
#include "sequencer/run_journal.h"

#include <QFile>
#include <QJsonArray>
#include <QSet>

namespace valve::commands {

using sequencer::Journal;
using sequencer::JournalReading;

namespace {

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

// A run cut short that a later run continues is resumed, not waiting to be.
QString stateOf(const Journal& journal, const QString& id, const QSet<QString>& continued) {
    const QString state = sequencer::runState(journal, id);
    return state == sequencer::kCutShort && continued.contains(id) ? QStringLiteral("resumed") : state;
}

QSet<QString> continuedRuns(const sequencer::JournalFolder& folder) {
    QSet<QString> continued;
    for (const QString& id : folder.ids()) {
        const JournalReading reading = readId(folder, id);
        if (reading.problem == sequencer::JournalProblem::None &&
            !reading.journal.header.continues.isEmpty()) {
            continued.insert(reading.journal.header.continues);
        }
    }
    return continued;
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

QJsonObject summary(const QString& id, const Journal& journal, const QSet<QString>& continued) {
    return {{QStringLiteral("id"), id},
            {QStringLiteral("start"), sequencer::journalTime(journal.header.start)},
            {QStringLiteral("routine"), journal.header.routine},
            {QStringLiteral("origin"), journal.header.origin},
            {QStringLiteral("adapter"), journal.header.adapterDescription},
            {QStringLiteral("steps"), static_cast<int>(journal.header.steps.size())},
            {QStringLiteral("steps_done"), journal.stepsDone()},
            {QStringLiteral("state"), stateOf(journal, id, continued)},
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

QJsonObject detail(const QString& id, const Journal& journal, const QSet<QString>& continued) {
    QJsonObject run = summary(id, journal, continued);
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

QStringList detailLines(const QString& id, const Journal& journal, const QSet<QString>& continued) {
    const sequencer::JournalHeader& h = journal.header;
    QStringList lines{QStringLiteral("run %1: %2").arg(id, stateOf(journal, id, continued)),
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

JournalReading readRun(const sequencer::JournalFolder& folder, const QString& id) {
    return readId(folder, id);
}

QByteArray runStepsCsv(const Journal& journal) {
    QByteArray csv("step,due_s,position,sent_at,deviation_ms,answered_at,reported,reached\n");
    for (int i = 0; i < journal.header.steps.size(); ++i) {
        const sequencer::PlannedStep& planned = journal.header.steps[i];
        QStringList row{QString::number(i + 1), QString::number(planned.seconds, 'f', 3),
                        QString::number(planned.position)};
        const auto sent = std::find_if(journal.steps.begin(), journal.steps.end(),
                                       [i](const sequencer::StepRecord& s) { return s.step == i; });
        if (sent != journal.steps.end()) {
            row << sequencer::journalTime(sent->sentAt) << milliseconds(sent->deviationMs());
            if (sent->answered) {
                row << sequencer::journalTime(sent->answeredAt)
                    << (sent->reported ? QString::number(*sent->reported) : QString())
                    << (sent->reached ? QStringLiteral("yes") : QStringLiteral("no"));
            }
        }
        while (row.size() < 8) {
            row << QString();
        }
        csv += row.join(u',').toUtf8() + '\n';
    }
    return csv;
}

Outcome listRuns(const sequencer::JournalFolder& folder) {
    Outcome outcome;
    QJsonArray runs;
    const QSet<QString> continued = continuedRuns(folder);
    for (const QString& id : folder.ids()) {
        const JournalReading reading = readId(folder, id);
        if (reading.problem != sequencer::JournalProblem::None) {
            // Left as it is, and named, so that the operator can look at it.
            runs.append(QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("problem"), reading.detail}});
            outcome.out << QStringLiteral("%1\tcannot be read: %2").arg(id, reading.detail);
            continue;
        }
        const QJsonObject run = summary(id, reading.journal, continued);
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
    const QSet<QString> continued = continuedRuns(folder);
    outcome.values.insert(QStringLiteral("run"), detail(id, reading.journal, continued));
    outcome.out = detailLines(id, reading.journal, continued);
    if (reading.torn) {
        outcome.err << QStringLiteral("its last line was cut off and is left out");
    }
    return outcome;
}

std::optional<RunToResume> runToResume(const sequencer::JournalFolder& folder, const QString& description,
                                       const QString& serial) {
    const QSet<QString> continued = continuedRuns(folder);
    for (const QString& id : folder.ids()) {
        const JournalReading reading = readId(folder, id);
        if (reading.problem != sequencer::JournalProblem::None) {
            continue;
        }
        const sequencer::JournalHeader& h = reading.journal.header;
        const bool ours = (!description.isEmpty() && h.adapterDescription == description) ||
                          (!serial.isEmpty() && h.adapterSerial == serial);
        if (ours && stateOf(reading.journal, id, continued) == sequencer::kCutShort) {
            return RunToResume{id, reading.journal};
        }
    }
    return std::nullopt;
}

ResumeCommand resumeCommand(const sequencer::JournalFolder& folder, const QString& id,
                            sequencer::MissedSteps missed, const QDateTime& now) {
    ResumeCommand resume;
    const auto refuse = [&resume](int code, const QString& why) {
        resume.exitCode = code;
        resume.parsed.error = QStringLiteral("run --resume: ") + why;
        return resume;
    };
    bool found = false;
    const JournalReading reading = sequencer::isJournalId(id) ? readId(folder, id, &found) : JournalReading{};
    if (!found) {
        return refuse(kBadUsage, QStringLiteral("no run %1 in %2").arg(quoted(id), folder.dir()));
    }
    if (reading.problem != sequencer::JournalProblem::None) {
        return refuse(kUnitFailed,
                      QStringLiteral("%1 cannot be read: %2").arg(folder.pathOf(id), reading.detail));
    }
    const QString state = stateOf(reading.journal, id, continuedRuns(folder));
    if (state != sequencer::kCutShort) {
        return refuse(kBadUsage, QStringLiteral("run %1 is not cut short: %2").arg(id, state));
    }
    const sequencer::ResumePlan plan = sequencer::planResume(reading.journal, now, missed);
    resume.missed = plan.missed;
    QStringList missedSteps;
    for (const int step : plan.missed) {
        missedSteps << QString::number(step + 1);
    }
    if (!missedSteps.isEmpty()) {
        resume.note =
            QStringLiteral("steps %1 of run %2 were missed; %3")
                .arg(missedSteps.join(QStringLiteral(", ")), id,
                     missed == sequencer::MissedSteps::Skip ? QStringLiteral("they are skipped")
                                                            : QStringLiteral("they go at once, in order"));
    }
    if (plan.empty()) {
        return refuse(kUnitFailed, QStringLiteral("run %1 has no step left to run").arg(id));
    }
    Command command;
    command.kind = Command::Kind::Run;
    const QString routine = reading.journal.header.routine;
    command.routineName = routine.isEmpty() ? QStringLiteral("run %1").arg(id) : routine;
    command.words = {QStringLiteral("run"), command.routineName};
    command.continues = id;
    command.timesFrom = now;
    for (const sequencer::ResumePlan::Step& step : plan.steps) {
        const QString time = QString::number(step.seconds, 'f', 3);
        command.steps.push_back({time, QString::number(step.position), time.toDouble(),
                                 static_cast<std::int16_t>(step.position)});
    }
    resume.parsed.command = command;
    return resume;
}

QCoro::Task<QString> statusBeforeResuming(CommandCore& core, QString id) {
    Request request;
    request.words = QStringList{QStringLiteral("status")};
    const Outcome status = co_await core.run(request);
    co_return status.exitCode == kSucceeded
        ? QStringLiteral("before run %1 resumes, the valve is at position %2").arg(id, status.out.join(u' '))
        : QStringLiteral("before run %1 resumes, the valve's position could not be read: %2")
              .arg(id, status.err.join(u' '));
}

} // namespace valve::commands
