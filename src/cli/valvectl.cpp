#include "valvectl.h"

#include "adapter_choice.h"
#include "adapter_listing.h"
#include "commands/command_core.h"
#include "commands/routine_run.h"
#include "commands/run_history.h"
#include "commands/step_json.h"
#include "link/backends/hardware_driver.h"
#include "local_unit.h"
#include "options.h"
#include "printing.h"
#include "remote/panel_client.h"
#include "run_progress.h"
#include "running_panels.h"
#include "sequencer/run_journal.h"
#include "signal_watch.h"
#include "sila_host.h"
#include "sim/simulated_driver.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace valve::cli {

namespace {

using namespace std::chrono_literals;

// "--sim-fault unplug": the adapter goes away this long into the command. A
// single read (about 4 ms on the simulated 19200 baud line) is through by
// then; a memory read of sixteen cells or a move (50 ms a step) is cut off.
constexpr auto kUnplugAfter = 20ms;

// What an empty list says on standard error: where the adapter may have gone.
const QString kNoAdapter = QStringLiteral(
    "no FTDI adapter found. Check that it is plugged in (lsusb lists it, most often as 0403:6001) and that "
    "you may open it: without the udev rule 60-valve-panel-ftdi.rules, or membership in group plugdev, "
    "its USB device is closed to you.");

// The way to the unit valvectl was given: the driver, and for the simulated
// unit the driver itself, for its faults.
struct Driver {
    std::unique_ptr<link::FtdiDriver> driver;
    sim::SimulatedDriver* sim = nullptr;
};

Driver makeDriver(const Options& options) {
    if (!options.sim) {
        link::HardwareDriver hardware = link::makeHardwareDriver();
        // What the backend must tell (an adapter the user may not open, say).
        hardware.driver->setDiagnosticSink(
            [](const QString& line) { std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData()); });
        return {std::move(hardware.driver), nullptr};
    }
    auto sim = std::make_unique<sim::SimulatedDriver>();
    sim->setCallLogEnabled(false);
    sim->addAdapter(QByteArrayLiteral("NR Valve Unit A"));
    if (options.simFault == QLatin1String("silent")) {
        sim->unit(0).setPowered(false);
    } else if (options.simFault == QLatin1String("absent")) {
        sim->unplug(0);
    }
    sim::SimulatedDriver* raw = sim.get();
    return {std::move(sim), raw};
}

class Tool {
public:
    Tool(Options options, commands::Command command)
        : options_(std::move(options)), command_(std::move(command)) {}

    QCoro::Task<int> run() {
        if (command_.kind == commands::Command::Kind::List) {
            const int code = co_await list();
            co_return code;
        }
        // The journals are this computer's: no unit is asked.
        if (command_.kind == commands::Command::Kind::Runs) {
            co_return finish(commands::listRuns(sequencer::JournalFolder()), commands::Route::Direct);
        }
        if (command_.kind == commands::Command::Kind::RunsShow) {
            co_return finish(commands::showRun(sequencer::JournalFolder(), command_.journal),
                             commands::Route::Direct);
        }
        if (command_.kind == commands::Command::Kind::Stop && options_.sim) {
            co_return finish(commands::Outcome::failed(commands::kBadUsage,
                                                       QStringLiteral("stop: the run to stop is the running "
                                                                      "panel's; --sim has none")),
                             commands::Route::Direct);
        }
        // A run to stop can only be the panel's.
        if (options_.panel || command_.kind == commands::Command::Kind::Stop) {
            const int code = co_await forcedPanel();
            co_return code;
        }
        driver_ = makeDriver(options_);
        if (!options_.sim) {
            co_await panels_.ask();
        }
        AdapterChoice choice = chooseAdapter(link::listAdapters(*driver_.driver), options_.device,
                                             options_.serial, panels_.held());
        switch (choice.way) {
        case AdapterChoice::Way::Refused:
            for (const SeenPanel& panel : panels_.seen()) {
                if (!panel.refusal.isEmpty()) {
                    choice.message +=
                        QStringLiteral("\nthe panel at %1: %2").arg(panel.socket, panel.refusal);
                }
            }
            co_return finish(commands::Outcome::failed(choice.exitCode, choice.message),
                             commands::Route::Direct);
        case AdapterChoice::Way::Panel:
            break;
        case AdapterChoice::Way::Direct: {
            if (serving()) {
                const int code =
                    co_await serveSila(options_, *driver_.driver, driver_.sim, choice.description);
                co_return code;
            }
            const int code = co_await direct(choice.description);
            co_return code;
        }
        }
        if (serving()) {
            co_return finish(
                commands::Outcome::failed(commands::kUnitFailed,
                                          QStringLiteral("serve: the running panel holds that "
                                                         "adapter; start its own SiLA 2 server with "
                                                         "valve-panel --sila instead")),
                commands::Route::Direct);
        }
        const int code = co_await throughPanel(panels_.holding(QString::fromLocal8Bit(choice.description)));
        co_return code;
    }

private:
    // Prints the outcome; a command cut short by a signal exits as the shell
    // expects of one, with 128 + the signal's number.
    int finish(const commands::Outcome& outcome, commands::Route route) const {
        printOutcome(outcome, command_.name(), route, options_.json);
        return signal_ != 0 ? 128 + signal_ : outcome.exitCode;
    }

    [[nodiscard]] link::LinkTiming timing() const {
        link::LinkTiming timing;
        if (options_.sim && options_.simReplyLimitMs > 0) {
            timing.replyTimeout = std::chrono::milliseconds{options_.simReplyLimitMs};
            timing.reconnectPause = std::min(timing.reconnectPause, timing.replyTimeout);
        }
        return timing;
    }

    QCoro::Task<int> list() {
        driver_ = makeDriver(options_);
        if (!options_.sim) {
            co_await panels_.ask();
        }
        if (options_.panel && panels_.held().isEmpty()) {
            co_return finish(commands::Outcome::failed(commands::kUnitFailed, noPanel()),
                             commands::Route::Panel);
        }
        commands::Outcome outcome =
            adapterListing(link::listAdapters(*driver_.driver), panels_.seen(), options_.panel);
        if (outcome.values.value(QStringLiteral("adapters")).toArray().isEmpty()) {
            outcome.err << kNoAdapter; // the list itself, on standard output, stays empty
        }
        co_return finish(outcome, options_.panel ? commands::Route::Panel : commands::Route::Direct);
    }

    // Why no panel serves: what those that would not said, or that nothing listens.
    [[nodiscard]] QString noPanel() const {
        QStringList refusals;
        for (const SeenPanel& panel : panels_.seen()) {
            refusals << panel.refusal;
        }
        return refusals.isEmpty() ? panels_.absence() : refusals.join(QLatin1Char('\n'));
    }

    // Through a running panel and no other way: the only one, or the one
    // that holds the adapter named by --device or --serial.
    QCoro::Task<int> forcedPanel() {
        co_await panels_.ask();
        if (panels_.seen().empty()) {
            co_return finish(commands::Outcome::failed(commands::kUnitFailed, panels_.absence()),
                             commands::Route::Panel);
        }
        QString wanted = options_.device;
        if (!options_.serial.isEmpty()) {
            // Panels name their adapters by description; the attached adapters tell which has this serial.
            driver_ = makeDriver(options_);
            for (const link::AdapterInfo& adapter : link::listAdapters(*driver_.driver)) {
                if (QString::fromLocal8Bit(adapter.serialNumber) == options_.serial) {
                    wanted = QString::fromLocal8Bit(adapter.description);
                }
            }
            if (wanted.isEmpty()) {
                co_return finish(commands::Outcome::failed(
                                     commands::kUnitFailed,
                                     QStringLiteral("no adapter with the serial number \"%1\" is attached")
                                         .arg(commands::quoted(options_.serial))),
                                 commands::Route::Panel);
            }
        }
        const PanelPick pick = pickPanel(panels_.seen(), wanted);
        if (pick.index < 0) {
            co_return finish(commands::Outcome::failed(pick.exitCode, pick.message), commands::Route::Panel);
        }
        const int code = co_await throughPanel(pick.index);
        co_return code;
    }

    [[nodiscard]] bool serving() const { return options_.words.value(0) == QLatin1String("serve"); }

    QCoro::Task<int> direct(QByteArray description) {
        LocalUnit unit(*driver_.driver, std::move(description), timing(), options_.yes);
        commands::LocalRoutines routines(unit.session(), unit.boxes());
        // The first signal ends the command gently (a run after its current
        // step), a second one at once; the adapter is closed either way.
        SignalWatch watch([this, &unit, &routines](int signal) {
            if (signal_ == 0) {
                signal_ = signal;
                if (routines.routineState().phase == commands::RoutineState::Phase::Running) {
                    routines.stopRoutine(SignalWatch::name(signal));
                }
            } else {
                unit.close();
            }
        });
        const bool opened = co_await unit.open();
        if (!opened) {
            co_return finish(
                commands::Outcome::failed(commands::kUnitFailed, unit.log().lines().join(QLatin1Char('\n'))),
                commands::Route::Direct);
        }
        if (signal_ != 0) {
            co_return finish(
                commands::Outcome::failed(commands::kUnitFailed,
                                          QStringLiteral("interrupted before the command began")),
                commands::Route::Direct);
        }
        QObject context; // ends the simulated unplug with this command
        if (driver_.sim != nullptr && options_.simFault == QLatin1String("unplug")) {
            QTimer::singleShot(kUnplugAfter, &context, [sim = driver_.sim] { sim->unplug(0); });
        }
        RunProgress progress(static_cast<int>(command_.steps.size()), options_.json,
                             isatty(STDOUT_FILENO) != 0);
        commands::CommandCore core(unit.session(), routines, commands::CommandCore::Announce::No);
        if (!command_.continues.isEmpty()) {
            co_await tellStatusBeforeResuming(core);
        }
        // Named, not braced into the co_await: GCC 12 destroys such a temporary twice.
        commands::Request request{
            .words = command_.words, .routine = std::nullopt, .confirmed = options_.yes};
        const commands::Outcome outcome = co_await core.run(
            command_, std::move(request),
            [&progress](const sequencer::StepReport& report, int /*steps*/) { progress.report(report); });
        unit.close();
        co_return finish(outcome, commands::Route::Direct);
    }

    // A resumed run starts from wherever the unit stands now: that goes first.
    QCoro::Task<> tellStatusBeforeResuming(commands::CommandCore& core) {
        const QString line = co_await commands::statusBeforeResuming(core, command_.continues);
        std::fprintf(stderr, "valvectl: %s\n", line.toLocal8Bit().constData());
    }

    QCoro::Task<int> throughPanel(int panel) {
        if (!options_.json) {
            std::fprintf(
                stderr, "valvectl: through the running panel, which holds %s\n",
                panels_.seen().at(static_cast<std::size_t>(panel)).adapter.toLocal8Bit().constData());
        }
        const bool isRun = command_.kind == commands::Command::Kind::Run;
        QJsonObject request{{QStringLiteral("words"), QJsonArray::fromStringList(command_.words)},
                            {QStringLiteral("confirmed"), options_.yes}};
        if (isRun) {
            request.insert(QStringLiteral("routine"),
                           QString::fromUtf8(sequencer::formatRoutine(command_.steps)));
        }
        // The panel's journal then says which run this one resumes, so it is not resumed twice.
        if (!command_.continues.isEmpty()) {
            request.insert(QStringLiteral("continues"), command_.continues);
            request.insert(QStringLiteral("times_from"), sequencer::journalTime(command_.timesFrom));
        }
        remote::PanelClient& client = panels_.client(panel);
        client.send(remote::encode(remote::type::kCommand, request));
        // The first signal stops a run after its current step; anything else,
        // or a second signal, leaves the panel to finish on its own.
        SignalWatch watch([this, isRun, &client](int signal) {
            const bool first = signal_ == 0;
            signal_ = first ? signal : signal_;
            if (first && isRun) {
                client.send(remote::encode(remote::type::kStop));
            } else {
                client.abort();
            }
        });
        RunProgress progress(static_cast<int>(command_.steps.size()), options_.json,
                             isatty(STDOUT_FILENO) != 0);
        for (;;) {
            const auto message = co_await client.next();
            if (!message) {
                co_return finish(commands::Outcome::failed(commands::kUnitFailed,
                                                           QStringLiteral("the panel closed the connection "
                                                                          "before the command ended")),
                                 commands::Route::Panel);
            }
            if (message->type == remote::type::kStep) {
                if (const auto report = commands::stepFromJson(message->body)) {
                    progress.report(*report);
                }
            } else if (message->type == remote::type::kOutcome) {
                co_return finish(commands::outcomeFromJson(message->body), commands::Route::Panel);
            } else {
                // A refusal, as the panel put it.
                co_return finish(
                    commands::Outcome::failed(commands::kUnitFailed,
                                              message->body.value(QStringLiteral("message")).toString()),
                    commands::Route::Panel);
            }
        }
    }

    Options options_;
    commands::Command command_;
    Driver driver_;
    RunningPanels panels_;
    int signal_ = 0;
};

QCoro::Task<> runTool(Options options, commands::Command command, int& exitCode) {
    Tool tool(std::move(options), std::move(command));
    exitCode = co_await tool.run();
    // Ends the loop from the loop itself, also when the tool never had to wait.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(); }, Qt::QueuedConnection);
}

} // namespace

int valvectlMain(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("valvectl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VALVE_VERSION));
    // A closed output pipe is an error to notice, not a reason to die with the adapter open.
    std::signal(SIGPIPE, SIG_IGN);

    const ParsedOptions parsed = parseOptions(QCoreApplication::arguments());
    Options options;
    QString refusal = parsed.text;
    int exitCode = parsed.exitCode;
    std::optional<commands::Command> command;
    if (parsed.options) {
        options = *parsed.options;
        commands::ParsedCommand checked;
        exitCode = commands::kBadUsage;
        if (options.words.value(0) == QLatin1String("serve") && options.words.size() == 1) {
            checked = {commands::Command{}, {}}; // valvectl's own: its options were checked with the others
        } else if (options.resume.isEmpty()) {
            checked =
                commands::parseCommand(options.words, commands::RoutineReader(sequencer::readRoutineFile));
        } else {
            const commands::ResumeCommand resume = commands::resumeCommand(
                sequencer::JournalFolder(), options.resume,
                options.runMissed ? sequencer::MissedSteps::RunNow : sequencer::MissedSteps::Skip,
                QDateTime::currentDateTimeUtc());
            checked = resume.parsed;
            exitCode = resume.parsed.command ? exitCode : resume.exitCode;
            if (!resume.note.isEmpty()) {
                std::fprintf(stderr, "valvectl: %s\n", resume.note.toLocal8Bit().constData());
            }
        }
        command = checked.command;
        refusal = checked.error;
        if (command && command->kind == commands::Command::Kind::SetOpMode && !options.yes) {
            refusal =
                QStringLiteral("set op-mode: an invalid operational mode can stop the unit from operating; "
                               "add --yes to go ahead");
            command.reset();
        }
    }
    if (!command) {
        if (exitCode == commands::kSucceeded) {
            std::printf("%s\n", refusal.toLocal8Bit().constData());
        } else if (options.json) {
            printJson(stdout, commands::toJson(commands::Outcome::failed(exitCode, refusal),
                                               options.words.value(0), commands::Route::Direct));
        } else {
            std::fprintf(stderr, "valvectl: %s\n", refusal.toLocal8Bit().constData());
        }
        return exitCode;
    }
    runTool(options, *command, exitCode);
    QCoreApplication::exec();
    return exitCode;
}

} // namespace valve::cli
