#include "options.h"

#include "commands/command.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <limits>

namespace valve::cli {

ParsedOptions parseOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Commands the valve unit from scripts: every command of the valve panel, on the unit's\n"
            "adapter or through a running panel that holds it.\n\n") +
        commands::subcommandHelp() +
        QStringLiteral("\nExit codes: 0 success, 1 the unit or the link failed, 2 bad usage or bad input."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Displays the version."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON object as output (one per line for run)."));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("The adapter with this description."),
                                    QStringLiteral("DESCRIPTION"));
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("The adapter with this serial number."),
                                    QStringLiteral("NUMBER"));
    const QCommandLineOption sim(QStringLiteral("sim"),
                                 QStringLiteral("A simulated unit of valvectl's own."));
    const QCommandLineOption panel(
        QStringLiteral("panel"),
        QStringLiteral("Through the running panel (also one on the simulated unit)."));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Go ahead with set op-mode."));
    QCommandLineOption simFault(QStringLiteral("sim-fault"), QStringLiteral("silent, unplug or absent."),
                                QStringLiteral("KIND"));
    QCommandLineOption simLimit(QStringLiteral("sim-reply-limit"), QStringLiteral("Reply limit in ms."),
                                QStringLiteral("MS"));
    simFault.setFlags(QCommandLineOption::HiddenFromHelp);
    simLimit.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({help, version, json, device, serial, sim, panel, yes, simFault, simLimit});
    parser.addPositionalArgument(QStringLiteral("subcommand"), QStringLiteral("What to do (see above)."),
                                 QStringLiteral("SUBCOMMAND [ARGUMENTS...]"));

    const auto usage = [](const QString& message) {
        return ParsedOptions{std::nullopt, message, commands::kBadUsage};
    };
    if (!parser.parse(arguments)) {
        return usage(parser.errorText());
    }
    if (parser.isSet(help)) {
        return {std::nullopt, parser.helpText(), commands::kSucceeded};
    }
    if (parser.isSet(version)) {
        return {std::nullopt,
                QCoreApplication::applicationName() + QLatin1Char(' ') +
                    QCoreApplication::applicationVersion(),
                commands::kSucceeded};
    }
    Options options;
    options.json = parser.isSet(json);
    options.sim = parser.isSet(sim);
    options.panel = parser.isSet(panel);
    options.yes = parser.isSet(yes);
    options.device = parser.value(device);
    options.serial = parser.value(serial);
    options.words = parser.positionalArguments();
    options.simFault = parser.value(simFault);
    bool limitOk = true;
    if (parser.isSet(simLimit)) {
        const auto limit = commands::wholeNumber(parser.value(simLimit), std::numeric_limits<int>::max());
        limitOk = limit.has_value();
        options.simReplyLimitMs = limit.value_or(0);
    }
    if (options.sim && options.panel) {
        return usage(QStringLiteral(
            "--sim and --panel exclude each other: --sim is a simulated unit of valvectl's own"));
    }
    if (parser.isSet(device) && parser.isSet(serial)) {
        return usage(QStringLiteral("--device and --serial exclude each other"));
    }
    if ((parser.isSet(device) && options.device.isEmpty()) ||
        (parser.isSet(serial) && options.serial.isEmpty())) {
        return usage(QStringLiteral("--device and --serial need a non-empty value"));
    }
    const QStringList faults{QStringLiteral("silent"), QStringLiteral("unplug"), QStringLiteral("absent")};
    if (!options.simFault.isEmpty() && !faults.contains(options.simFault)) {
        return usage(QStringLiteral("--sim-fault: \"%1\" is not silent, unplug or absent")
                         .arg(commands::quoted(options.simFault)));
    }
    if (!limitOk) {
        return usage(QStringLiteral("--sim-reply-limit: not a number of milliseconds"));
    }
    return {options, {}, commands::kSucceeded};
}

} // namespace valve::cli
