#pragma once

#include "command.h"
#include "outcome.h"
#include "routine_host.h"

#include <QObject>
#include <QPointer>
#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <vector>

namespace valve::protocol {
struct Session;
}

namespace valve::commands {

class RunTally;

// One request of a front end: the subcommand and its arguments as given.
struct Request {
    QStringList words;
    // A routine's text, in place of the file a "run" names: requests read no file.
    std::optional<QByteArray> routine;
    // The answer to a command's question (valvectl's --yes).
    bool confirmed = false;
    // Who asks: the name each request's line and operations carry.
    QString origin = QStringLiteral("valvectl");
    // A run that resumes one cut short: that run's journal, and the moment
    // the steps' times count from.
    QString continues{};
    QDateTime timesFrom{};
};

// What a front end is told of each step of a run it started, with the run's
// number of steps.
using StepSink = std::function<void(const sequencer::StepReport& report, int steps)>;

// The commands every front end offers, on one unit: a request goes in, its
// typed outcome comes out. Unit commands run in the link's operation queue
// like clicks and show their lines in the events log; routines run in the
// host's table, one at a time, whoever started them.
class CommandCore : public QObject {
    Q_OBJECT
public:
    enum class Announce {
        No,    // the unit is the caller's alone (valvectl's own adapter)
        InLog, // the unit is shared: each request first shows as "valvectl: ..." in the log
    };

    CommandCore(protocol::Session& session, RoutineHost& routines, Announce announce);
    ~CommandCore() override;
    CommandCore(const CommandCore&) = delete;
    CommandCore& operator=(const CommandCore&) = delete;

    // Checks and carries out `request` ("list" aside); a run started for it
    // tells `progress` of each step, and `caller` may stop it.
    QCoro::Task<Outcome> run(Request request, StepSink progress = {}, const QObject* caller = nullptr);
    // The same for a command checked already.
    QCoro::Task<Outcome> run(Command command, Request request, StepSink progress = {},
                             const QObject* caller = nullptr);
    // Presses "Stop" for the run `caller` started; false when none of its runs is under way.
    bool stopRunOf(const QObject* caller);

private:
    struct Run;
    struct Started;
    struct Waiter;

    QCoro::Task<Outcome> carryOut(Command command, Request request, StepSink progress, const QObject* caller);
    QCoro::Task<Outcome> startRun(Command command, Request request, StepSink progress, const QObject* caller);
    QCoro::Task<Outcome> stopRun();
    void settle(const std::shared_ptr<Waiter>& waiter, Outcome outcome);
    [[nodiscard]] Outcome stopped(const RoutineState& state, const RunTally* tally) const;
    void stepReported(const sequencer::StepReport& report);
    void routineEnded(sequencer::RunEnd end);

    protocol::Session& session_;
    RoutineHost& routines_;
    Announce announce_;
    std::shared_ptr<Run> run_;                      // the run started here, while it goes on
    std::unique_ptr<Started> started_;              // the last run started here, to name it
    std::vector<std::shared_ptr<Waiter>> stoppers_; // "stop" requests waiting for the run to end
    std::vector<std::shared_ptr<Waiter>> waiting_;  // every request not resumed yet
};

// A request's line in a shared events log: "valvectl: move 3".
QString requestLine(const QString& origin, const QStringList& words);

} // namespace valve::commands
