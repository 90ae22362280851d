#include "options.h"

#include "commands/command.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <limits>

namespace valve::cli {

namespace {

// valvectl's options as the parser knows them.
struct OptionSet {
    OptionSet() {
        simFault.setFlags(QCommandLineOption::HiddenFromHelp);
        simLimit.setFlags(QCommandLineOption::HiddenFromHelp);
    }

    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Displays this help.")};
    QCommandLineOption version{QStringLiteral("version"), QStringLiteral("Displays the version.")};
    QCommandLineOption json{QStringLiteral("json"),
                            QStringLiteral("One JSON object as output (one per line for run).")};
    QCommandLineOption device{QStringLiteral("device"), QStringLiteral("The adapter with this description."),
                              QStringLiteral("DESCRIPTION")};
    QCommandLineOption serial{QStringLiteral("serial"),
                              QStringLiteral("The adapter with this serial number."),
                              QStringLiteral("NUMBER")};
    QCommandLineOption sim{QStringLiteral("sim"), QStringLiteral("A simulated unit of valvectl's own.")};
    QCommandLineOption panel{QStringLiteral("panel"),
                             QStringLiteral("Through the running panel (also one on the simulated unit).")};
    QCommandLineOption yes{QStringLiteral("yes"), QStringLiteral("Go ahead with set op-mode.")};
    QCommandLineOption sila{
        QStringLiteral("sila"),
        QStringLiteral("serve: the SiLA 2 server's address (PORT, HOST:PORT or [IPv6]:PORT; "
                       "loopback unless a host is given; port 0 lets the system choose)."),
        QStringLiteral("ADDRESS:PORT")};
    QCommandLineOption silaCert{QStringLiteral("sila-cert"),
                                QStringLiteral("serve: the server's certificate (PEM) instead of its own."),
                                QStringLiteral("FILE")};
    QCommandLineOption silaKey{QStringLiteral("sila-key"),
                               QStringLiteral("serve: the key of --sila-cert (PEM)."),
                               QStringLiteral("FILE")};
    QCommandLineOption silaClientCa{
        QStringLiteral("sila-client-ca"),
        QStringLiteral("serve: admit only clients with a certificate from this authority (PEM)."),
        QStringLiteral("FILE")};
    QCommandLineOption silaInsecure{QStringLiteral("sila-insecure"),
                                    QStringLiteral("serve: plain gRPC without TLS (loopback only).")};
    QCommandLineOption silaOpen{QStringLiteral("sila-open"),
                                QStringLiteral("serve: admit any client on a network address (TLS still).")};
    QCommandLineOption simFault{QStringLiteral("sim-fault"), QStringLiteral("silent, unplug or absent."),
                                QStringLiteral("KIND")};
    QCommandLineOption simLimit{QStringLiteral("sim-reply-limit"), QStringLiteral("Reply limit in ms."),
                                QStringLiteral("MS")};
    QCommandLineOption resume{QStringLiteral("resume"),
                              QStringLiteral("With run: continue the run cut short whose journal is ID "
                                             "(see valvectl runs) on its original schedule."),
                              QStringLiteral("ID")};
    QCommandLineOption missed{QStringLiteral("missed"),
                              QStringLiteral("With --resume: skip the steps whose time has passed (the "
                                             "default), or run them at once, in order."),
                              QStringLiteral("skip|run")};
};

void declare(QCommandLineParser& parser, const OptionSet& option) {
    parser.setApplicationDescription(
        QStringLiteral(
            "Commands the valve unit from scripts: every command of the valve panel, on the unit's\n"
            "adapter or through a running panel that holds it.\n\n") +
        commands::subcommandHelp() +
        QStringLiteral(
            "  serve --sila ADDRESS:PORT           Hold the adapter and serve it over SiLA 2 until "
            "SIGTERM or SIGINT\n") +
        QStringLiteral("\nExit codes: 0 success, 1 the unit or the link failed, 2 bad usage or bad input."));
    parser.addOptions({option.help, option.version, option.json, option.device, option.serial, option.sim,
                       option.panel, option.yes, option.sila, option.silaCert, option.silaKey,
                       option.silaClientCa, option.silaInsecure, option.silaOpen, option.simFault,
                       option.simLimit, option.resume, option.missed});
    parser.addPositionalArgument(QStringLiteral("subcommand"), QStringLiteral("What to do (see above)."),
                                 QStringLiteral("SUBCOMMAND [ARGUMENTS...]"));
}

std::optional<int> simReplyLimit(const QCommandLineParser& parser, const OptionSet& option) {
    return commands::wholeNumber(parser.value(option.simLimit), std::numeric_limits<int>::max());
}

Options readOptions(const QCommandLineParser& parser, const OptionSet& option) {
    Options options;
    options.json = parser.isSet(option.json);
    options.sim = parser.isSet(option.sim);
    options.panel = parser.isSet(option.panel);
    options.yes = parser.isSet(option.yes);
    options.device = parser.value(option.device);
    options.serial = parser.value(option.serial);
    options.words = parser.positionalArguments();
    options.simFault = parser.value(option.simFault);
    options.sila = parser.value(option.sila);
    options.silaCert = parser.value(option.silaCert);
    options.silaKey = parser.value(option.silaKey);
    options.silaClientCa = parser.value(option.silaClientCa);
    options.silaInsecure = parser.isSet(option.silaInsecure);
    options.silaOpen = parser.isSet(option.silaOpen);
    options.resume = parser.value(option.resume);
    options.runMissed = parser.value(option.missed) == QLatin1String("run");
    if (parser.isSet(option.simLimit)) {
        options.simReplyLimitMs = simReplyLimit(parser, option).value_or(0);
    }
    return options;
}

std::optional<QString> resumeMisuse(const QCommandLineParser& parser, const OptionSet& option,
                                    const Options& options) {
    if (parser.isSet(option.missed) && !parser.isSet(option.resume)) {
        return QStringLiteral("--missed goes with run --resume ID");
    }
    const QString missed = parser.value(option.missed);
    if (parser.isSet(option.missed) && missed != QLatin1String("skip") && missed != QLatin1String("run")) {
        return QStringLiteral("--missed: \"%1\" is not skip or run").arg(commands::quoted(missed));
    }
    if (parser.isSet(option.resume) && options.words != QStringList{QStringLiteral("run")}) {
        return QStringLiteral("--resume ID goes with run and no routine file: valvectl run --resume ID");
    }
    return std::nullopt;
}

// Why the options given cannot be used, if they cannot.
std::optional<QString> misuse(const QCommandLineParser& parser, const OptionSet& option,
                              const Options& options) {
    if (options.sim && options.panel) {
        return QStringLiteral(
            "--sim and --panel exclude each other: --sim is a simulated unit of valvectl's own");
    }
    if (parser.isSet(option.device) && parser.isSet(option.serial)) {
        return QStringLiteral("--device and --serial exclude each other");
    }
    if ((parser.isSet(option.device) && options.device.isEmpty()) ||
        (parser.isSet(option.serial) && options.serial.isEmpty())) {
        return QStringLiteral("--device and --serial need a non-empty value");
    }
    const QStringList faults{QStringLiteral("silent"), QStringLiteral("unplug"), QStringLiteral("absent")};
    if (!options.simFault.isEmpty() && !faults.contains(options.simFault)) {
        return QStringLiteral("--sim-fault: \"%1\" is not silent, unplug or absent")
            .arg(commands::quoted(options.simFault));
    }
    const bool serving = options.words.value(0) == QLatin1String("serve");
    if (serving != parser.isSet(option.sila)) {
        return serving ? QStringLiteral("serve needs --sila ADDRESS:PORT")
                       : QStringLiteral("--sila is an option of serve");
    }
    if (serving && options.panel) {
        return QStringLiteral("serve holds an adapter of its own; --panel does not go with it");
    }
    if (parser.isSet(option.simLimit) && !simReplyLimit(parser, option)) {
        return QStringLiteral("--sim-reply-limit: not a number of milliseconds");
    }
    return resumeMisuse(parser, option, options);
}

} // namespace

ParsedOptions parseOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    const OptionSet option;
    declare(parser, option);

    const auto usage = [](const QString& message) {
        return ParsedOptions{std::nullopt, message, commands::kBadUsage};
    };
    if (!parser.parse(arguments)) {
        return usage(parser.errorText());
    }
    if (parser.isSet(option.help)) {
        return {std::nullopt, parser.helpText(), commands::kSucceeded};
    }
    if (parser.isSet(option.version)) {
        return {std::nullopt,
                QCoreApplication::applicationName() + QLatin1Char(' ') +
                    QCoreApplication::applicationVersion(),
                commands::kSucceeded};
    }
    const Options options = readOptions(parser, option);
    if (const auto problem = misuse(parser, option, options)) {
        return usage(*problem);
    }
    return {options, {}, commands::kSucceeded};
}

} // namespace valve::cli
