#include "sequencer.h"

#include "link/usb_link.h"
#include "link/wake_signal.h"
#include "priority_raiser.h"
#include "protocol/message_boxes.h"
#include "protocol/operation.h"
#include "protocol/session.h"
#include "record/event_log.h"
#include "record/operation_lines.h"
#include "run_clock.h"
#include "run_journal.h"
#include "sleep_inhibitor.h"

#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace valve::sequencer {

// The state a run shares with the buttons. The run's coroutine holds it too,
// so that a run resumed while the program closes finds it still there; once
// `closed` is set, the run touches neither the session nor the table again.
struct Sequencer::Control {
    Control(protocol::Session& s, EventTableView& t, RunSupport support)
        : session(s), table(t), inhibitor(support.inhibitor), priority(support.priority),
          clock(support.clock), journals(support.journals), origin(support.origin) {
        if (clock == nullptr) {
            ownClock = std::make_unique<BootTimeClock>();
            clock = ownClock.get();
        }
    }

    protocol::Session& session;
    EventTableView& table;
    SleepInhibitor* inhibitor;
    PriorityRaiser* priority;
    std::unique_ptr<RunClock> ownClock;
    RunClock* clock;
    JournalFolder* journals;
    QString origin;
    RunContext next;                      // for the next run's journal
    std::unique_ptr<RunRecorder> journal; // the run's, while it goes on
    QString lastJournal;                  // the id of the last run's journal, kept after it
    QString stopper;                      // who pressed "Stop" last
    QString failure;                      // the line a failed run ended with
    link::WakeSignal wake;                // ends the wait between steps early: Stop, closing
    // The lines of the last run, its own only; they are logged through it.
    std::unique_ptr<record::OperationLines> runLines;
    QString announcement; // the next run's first line, when it has one
    unsigned stops = 0;   // presses of "Stop", so that a run can tell it was stopped
    bool eventsRunning = false;
    bool runUnderWay = false;
    bool closed = false;
};

namespace {

using Control = Sequencer::Control;

const QString kTooLate =
    QStringLiteral("Could not set delay - maximum delay time is 604800.00 seconds (1 week)");
const QString kNoEvents = QStringLiteral("Please enter a valid time sequence.");
const QString kUnusable = QStringLiteral("Could not run the routine. Please double check that all fields "
                                         "have a valid time in seconds or are blank.");
const QString kCannotKeepAwake = QStringLiteral("The run cannot keep the computer from going to sleep");
const QString kCannotRaise = QStringLiteral(
    "The run cannot raise its priority; other programs may delay its moves by a few milliseconds");

QString earlierThanPrevious(int row) {
    return QStringLiteral("Could not set delay - Event time %1 can not occur earlier than previous event")
        .arg(row + 1);
}

QString stopLine(int row) {
    return QStringLiteral("Timed Events stopped due to incorrect timing in the event table (at time %1)")
        .arg(row + 1);
}

// The program is closing (or has closed the link): the run ends quietly.
bool gone(const Control& c) {
    return c.closed || c.session.link.is_shut_down();
}

// The run's journal ends; it is written by then.
void endJournal(Control& c, const QString& how, const QString& by = {}, const QString& line = {}) {
    if (c.journal) {
        c.journal->ended(how, by, line);
        c.journal.reset();
    }
}

QString adapterDescription(const Control& c) {
    const auto& description = c.session.link.device_description();
    return QString::fromLocal8Bit(description.data(),
                                  static_cast<qsizetype>(strnlen(description.data(), description.size())));
}

// When the steps' times began on the wall clock: the run's start, or the
// moment a resumed run was planned on (never later than now).
QDateTime timesBegan(const RunContext& context) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return context.timesFrom.isValid() ? std::min(context.timesFrom.toUTC(), now) : now;
}

// The header of a run's journal: the table as checked, up to its last complete
// row; `context` says when the steps' times began.
JournalHeader journalHeader(const Control& c, int lastRow, const RunContext& context) {
    JournalHeader header;
    for (int row = 0; row <= lastRow; ++row) {
        header.steps << PlannedStep{eventTime(c.table.timeText(row)).value_or(0.0),
                                    eventPosition(c.table.positionText(row)).value_or(0)};
    }
    header.routine = context.routine;
    header.adapterDescription = adapterDescription(c);
    header.adapterSerial = QString::fromLocal8Bit(c.session.link.device_serial());
    header.program = QStringLiteral(VALVE_VERSION);
    header.start = context.timesFrom;
    header.bootId = currentBootId();
    header.origin = context.origin.isEmpty() ? c.origin : context.origin;
    header.continues = context.continues;
    return header;
}

// Starts the journal of a run whose steps start now. A folder that cannot be
// written is told in the run's lines.
void beginJournal(const std::shared_ptr<Control>& c, int lastRow, const RunContext& context,
                  RunClock::Duration start) {
    if (c->journals == nullptr) {
        return;
    }
    const auto say = [weak = std::weak_ptr<Control>(c)](const QString& line) {
        if (const auto control = weak.lock(); control && !gone(*control) && control->runLines) {
            control->runLines->show_msg(line);
        }
    };
    c->journal = std::make_unique<RunRecorder>(*c->journals, journalHeader(*c, lastRow, context), start, say);
    c->lastJournal = c->journal->id();
}

void mark_event_row(Control& c, bool flag, int row) {
    c.table.setRowLook(row, flag ? RowLook::Current : RowLook::Idle);
}

// Every row idle, Stop enabled; Run only once no run is under way any more,
// so that a stopped run that still finishes its move never overlaps a new one.
void reset_event_table(Control& c) {
    for (int row = 0; row < kEventRows; ++row) {
        c.table.setRowLook(row, RowLook::Idle);
    }
    c.table.setRunEnabled(!c.runUnderWay);
    c.table.setStopEnabled(true);
}

// The run is over. After a failed move the table keeps its running look, and
// Run with it, until Stop.
void endRun(Control& c) {
    c.runUnderWay = false;
    if (!c.eventsRunning) {
        c.table.setRunEnabled(true);
    }
}

// Ends a run that reached its end or was refused: table idle, Run enabled.
void finishRun(Control& c) {
    c.eventsRunning = false;
    reset_event_table(c);
    endRun(c);
}

QCoro::Task<> showBox(std::shared_ptr<Control> c, QString text) {
    co_await c->session.boxes.message_box(text);
}

// Shows why the run cannot go on, then brings the table back to idle.
QCoro::Task<> refuse(std::shared_ptr<Control> c, QString text) {
    co_await showBox(c, text);
    if (!gone(*c)) {
        finishRun(*c);
    }
}

// Keeps the computer awake while the steps go on; one line in the log when it cannot.
std::unique_ptr<SleepHold> keepAwake(const std::shared_ptr<Control>& c) {
    if (c->inhibitor == nullptr) {
        return nullptr;
    }
    return c->inhibitor->hold([weak = std::weak_ptr<Control>(c)] {
        if (const auto control = weak.lock(); control && !gone(*control)) {
            control->runLines->show_msg(kCannotKeepAwake);
        }
    });
}

// Raises the logic thread's priority while the steps go on; one line in the
// log when it cannot.
std::unique_ptr<PriorityHold> raisePriority(const std::shared_ptr<Control>& c) {
    if (c->priority == nullptr) {
        return nullptr;
    }
    return c->priority->raise([weak = std::weak_ptr<Control>(c)] {
        if (const auto control = weak.lock(); control && !gone(*control)) {
            control->runLines->show_msg(kCannotRaise);
        }
    });
}

// A step is held up by the time it goes after its due time because the
// computer slept: no longer than the computer slept since the last step went
// (`asleepSeen`, brought up to date here), rounded to whole seconds.
qint64 reportHeldUp(Control& c, RunClock::Duration due, RunClock::Duration& asleepSeen) {
    const RunClock::Duration asleep = c.clock->asleep();
    const auto heldUp =
        std::chrono::round<std::chrono::seconds>(std::min(asleep - asleepSeen, c.clock->now() - due));
    asleepSeen = asleep;
    if (heldUp.count() > 0) {
        c.runLines->show_msg(
            QStringLiteral("The run was held up for %1 seconds while the computer was asleep")
                .arg(heldUp.count()));
    }
    return heldUp.count();
}

// How the steps of a run ended.
struct StepsEnd {
    enum class Kind { Finished, Gone, Unusable, MoveFailed };
    Kind kind = Kind::Finished;
    QString box; // the failed move's message
};

// How a step's move went.
struct StepMove {
    enum class Kind {
        Reached,
        Failed,
        NotMade, // no turn on the link, or Stop came first
        Gone,
    };
    Kind kind = Kind::NotMade;
    RunClock::Duration began{}; // when the move was sent
};

// `heldUp`: the seconds the step went late by a sleep of the computer, for
// the journal, which hears of it once the move is on its way.
QCoro::Task<StepMove> moveForStep(std::shared_ptr<Control> c, int step, std::int16_t position,
                                  RunClock::Duration due, qint64 heldUp) {
    StepMove move;
    {
        // One move is one operation on the link; other commands slot in
        // between the steps.
        auto turn = co_await protocol::takeTurn(
            c->session, QStringLiteral("Run, row %1: Position %2").arg(step + 1).arg(position),
            c->runLines.get());
        if (gone(*c)) {
            co_return StepMove{StepMove::Kind::Gone};
        }
        if (!turn || !c->eventsRunning) {
            co_return StepMove{StepMove::Kind::NotMade};
        }
        move.began = c->clock->now();
        // The move's line is on the link before the task first waits; only
        // then does the journal go to the disk.
        auto moving = c->session.positions.set_position(position);
        if (c->journal) {
            c->journal->sent(step, position, due, move.began);
            if (heldUp > 0) {
                c->journal->heldUp(step, heldUp);
            }
        }
        const bool reached = co_await std::move(moving);
        move.kind = reached ? StepMove::Kind::Reached : StepMove::Kind::Failed;
        if (c->journal && !gone(*c)) {
            c->journal->answered(reached, reached ? std::optional<int>(position) : std::nullopt,
                                 c->clock->now());
        }
    }
    if (gone(*c)) {
        co_return StepMove{StepMove::Kind::Gone};
    }
    co_return move;
}

// The header goes to the disk during a wait long enough for it.
void syncDuringWait(Control& c, RunClock::Duration due) {
    constexpr auto kRoomToSync = std::chrono::milliseconds(200);
    if (c.journal && due - c.clock->now() > kRoomToSync) {
        c.journal->sync();
    }
}

QCoro::Task<StepsEnd> runSteps(std::shared_ptr<Control> c, int lastRow, RunContext context) {
    using Kind = StepsEnd::Kind;
    RunClock& clock = *c->clock;
    // Every step is due at its own time from this start, so a late wake-up, a
    // slow move or a sleep of the computer never shifts the steps after it. A
    // resumed run's start lies back at the moment it was planned on, and its
    // journal starts there too.
    context.timesFrom = timesBegan(context);
    const RunClock::Duration start =
        clock.now() - std::chrono::milliseconds{context.timesFrom.msecsTo(QDateTime::currentDateTimeUtc())};
    beginJournal(c, lastRow, context, start);
    RunClock::Duration asleepSeen = clock.asleep();
    double previous = 0.0;
    for (int step = 0; step <= lastRow && c->eventsRunning; ++step) {
        mark_event_row(*c, true, step);
        // The time box of the current row is disabled from here on: the time
        // read now is the one the step keeps. It may have been edited since
        // the check, so it is checked again.
        const auto time = eventTime(c->table.timeText(step));
        if (!time || *time > kMaxEventTime || *time < previous) {
            co_return StepsEnd{Kind::Unusable, {}};
        }
        const RunClock::Duration due = start + toMilliseconds(*time);
        c->table.reportStep({StepReport::Phase::Waiting, step, due - start, clock.now() - start});
        syncDuringWait(*c, due);
        while (c->eventsRunning && !gone(*c) && clock.now() < due) {
            co_await clock.sleepUntil(due, c->wake);
        }
        if (gone(*c)) {
            co_return StepsEnd{Kind::Gone, {}};
        }
        if (!c->eventsRunning) {
            break;
        }
        const qint64 heldUp = reportHeldUp(*c, due, asleepSeen);
        c->runLines->show_msg(QStringLiteral("Waited %1 seconds").arg(formatSeconds(*time - previous)));
        previous = *time;

        const QString positionText = c->table.positionText(step);
        const auto position = eventPosition(positionText);
        if (!position) {
            co_return StepsEnd{Kind::Unusable, {}};
        }

        const StepMove move = co_await moveForStep(c, step, *position, due, heldUp);
        if (move.kind == StepMove::Kind::Gone) {
            co_return StepsEnd{Kind::Gone, {}};
        }
        if (move.kind == StepMove::Kind::NotMade) {
            break;
        }
        const bool moved = move.kind == StepMove::Kind::Reached;
        c->table.reportStep(
            {StepReport::Phase::Moved, step, due - start, move.began - start, *position, moved});
        if (!moved) {
            // The step counts from 0 here, unlike the rows: the row labelled 1 is
            // step 0. The box has always read so, and operators go by it.
            co_return StepsEnd{Kind::MoveFailed, QStringLiteral("Could not achieve Position %1, in step %2")
                                                     .arg(positionText, QString::number(step))};
        }
        c->table.setCurrentPosition(QString::number(*position));
        c->table.setRowLook(step, RowLook::Done);
    }
    co_return StepsEnd{};
}

// The run's link check, as an operation of its own. False: the program has
// gone meanwhile.
QCoro::Task<bool> checkLink(std::shared_ptr<Control> c) {
    auto turn =
        co_await protocol::takeTurn(c->session, QStringLiteral("Run (link check)"), c->runLines.get());
    if (gone(*c)) {
        co_return false;
    }
    if (turn) {
        co_await c->session.link.check_usb_connection();
        if (gone(*c)) {
            co_return false;
        }
    }
    co_return true;
}

// True when the table can be run; otherwise shows why and ends the run.
QCoro::Task<bool> tableAccepted(std::shared_ptr<Control> c, TableCheck check) {
    switch (check.outcome) {
    case TableCheck::Outcome::Ok:
        break;
    case TableCheck::Outcome::TooLate:
    case TableCheck::Outcome::EarlierThanPrevious: {
        // Texts are made before the await: temporaries inside a co_await
        // expression are a known source of compiler faults.
        const QString text =
            check.outcome == TableCheck::Outcome::TooLate ? kTooLate : earlierThanPrevious(check.row);
        co_await showBox(c, text);
        if (gone(*c)) {
            co_return false;
        }
        c->runLines->show_msg(stopLine(check.row));
        finishRun(*c);
        co_return false;
    }
    case TableCheck::Outcome::NoEvents:
    case TableCheck::Outcome::Unusable: {
        const QString text = check.outcome == TableCheck::Outcome::NoEvents ? kNoEvents : kUnusable;
        co_await refuse(c, text);
        co_return false;
    }
    }
    co_return true;
}

// Ends the run as its steps ended.
QCoro::Task<RunEnd> concludeRun(std::shared_ptr<Control> c, StepsEnd end) {
    switch (end.kind) {
    case StepsEnd::Kind::Finished:
        finishRun(*c);
        break;
    case StepsEnd::Kind::Gone:
        co_return RunEnd::EndedQuietly;
    case StepsEnd::Kind::Unusable:
        c->failure = kUnusable;
        co_await refuse(c, kUnusable);
        co_return RunEnd::Refused;
    case StepsEnd::Kind::MoveFailed:
        c->failure = end.box;
        co_await showBox(c, end.box);
        if (!gone(*c)) {
            endRun(*c); // the table keeps its running look until Stop
        }
        co_return RunEnd::MoveFailed;
    }
    co_return RunEnd::Finished;
}

QCoro::Task<RunEnd> runEvents(std::shared_ptr<Control> c) {
    const RunContext context = std::exchange(c->next, {});
    const QString announcement = std::exchange(c->announcement, {});
    if (gone(*c) || c->runUnderWay) {
        co_return RunEnd::EndedQuietly;
    }
    c->runUnderWay = true;
    c->eventsRunning = true;
    c->table.setRunEnabled(false);
    c->table.setStopEnabled(true);
    c->runLines = std::make_unique<record::OperationLines>(c->session.log);
    c->session.log.clear();
    if (!announcement.isEmpty()) {
        c->session.log.show_msg(announcement, {}); // the front end's line, not one of the run's own
    }

    const bool linkChecked = co_await checkLink(c);
    if (!linkChecked) {
        co_return RunEnd::EndedQuietly;
    }
    if (!c->eventsRunning) { // stopped during the link check
        endRun(*c);
        co_return RunEnd::Stopped;
    }
    const TableCheck check = checkEventTable(c->table);
    const bool accepted = co_await tableAccepted(c, check);
    if (!accepted) {
        co_return gone(*c) ? RunEnd::EndedQuietly : RunEnd::Refused;
    }

    StepsEnd end;
    {
        // Both are given back however the steps end, before any box is shown.
        const auto awake = keepAwake(c);
        const auto raised = raisePriority(c);
        end = co_await runSteps(c, check.lastRow, context);
    }
    const RunEnd concluded = co_await concludeRun(c, end);
    co_return concluded;
}

// A run that "Stop" was pressed for was stopped, however its steps ended,
// unless a move failed. (A press that finds a run under way ends at once:
// no "Stop" comes between.)
// The journal of a run that has ended says how.
void concludeJournal(Control& c, RunEnd end) {
    switch (end) {
    case RunEnd::Finished:
        endJournal(c, kEndCompleted);
        break;
    case RunEnd::Stopped:
        endJournal(c, kEndStopped, c.stopper);
        break;
    case RunEnd::MoveFailed:
    case RunEnd::Refused:
        endJournal(c, kEndFailed, {}, c.failure);
        break;
    case RunEnd::EndedQuietly:
        endJournal(c, kEndShutDown, c.stopper);
        break;
    }
}

QCoro::Task<RunEnd> runAndTell(std::shared_ptr<Control> c) {
    const unsigned stopsBefore = c->stops;
    // A press that finds a run under way must leave that run's journal alone.
    const bool ownRun = !c->runUnderWay && !gone(*c);
    c->failure.clear();
    const RunEnd end = co_await runEvents(c);
    const bool stopped = c->stops != stopsBefore;
    const RunEnd told = (stopped && end != RunEnd::MoveFailed) ? RunEnd::Stopped : end;
    if (ownRun) {
        concludeJournal(*c, told);
    }
    co_return told;
}

} // namespace

Sequencer::Sequencer(protocol::Session& session, EventTableView& table, RunSupport support)
    : control_(std::make_shared<Control>(session, table, support)) {}

Sequencer::~Sequencer() {
    shut_down();
}

QCoro::Task<RunEnd> Sequencer::btnRun_Click() {
    return runAndTell(control_);
}

void Sequencer::setNextRun(RunContext context) {
    control_->next = std::move(context);
}

bool Sequencer::nextRunTold() const {
    const RunContext& next = control_->next;
    return !next.origin.isEmpty() || !next.routine.isEmpty() || !next.continues.isEmpty();
}

void Sequencer::btnStop_Click() {
    stopFor(kFromWindow);
}

void Sequencer::stopFor(const QString& by) {
    Control& c = *control_;
    if (c.closed) {
        return;
    }
    c.stopper = by;
    // The line is the run's while one is under way or holds the table.
    const bool ofRun = c.runLines && (c.eventsRunning || c.runUnderWay);
    c.eventsRunning = false;
    ++c.stops;
    reset_event_table(c);
    if (ofRun) {
        c.runLines->show_msg(kUserStopped);
    } else {
        c.session.log.show_msg(kUserStopped, {});
    }
    // A waiting run resumes here and ends; one inside a move ends after it.
    c.wake.notify();
}

void Sequencer::shut_down() {
    endJournal(*control_, kEndShutDown, kFromWindow);
    control_->closed = true;
    control_->eventsRunning = false;
    control_->wake.notify();
}

void Sequencer::shut_down_for(const QString& cause) {
    const Control& c = *control_;
    if (!c.closed && c.eventsRunning && c.runUnderWay) {
        c.session.log.show_msg(stoppedByClosing(cause));
    }
    endJournal(*control_, kEndShutDown, cause);
    shut_down();
}

void Sequencer::announceNextRun(const QString& line) {
    control_->announcement = line;
}

bool Sequencer::runUnderWay() const {
    return control_->runUnderWay;
}

QString Sequencer::lastJournalId() const {
    return control_->lastJournal;
}

const record::OperationLines* Sequencer::runLines() const {
    return control_->runLines.get();
}

} // namespace valve::sequencer
