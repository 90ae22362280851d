#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace valve::cli {

// valvectl's options and the words of its subcommand.
struct Options {
    bool json = false;
    bool sim = false;   // a simulated unit of valvectl's own
    bool panel = false; // through the running panel, whatever else is attached
    bool yes = false;   // the answer to the panel's question (set op-mode)
    QString device;     // --device DESCRIPTION
    QString serial;     // --serial NUMBER
    QStringList words;
    QString resume;         // run --resume ID: the journal of the run to continue
    bool runMissed = false; // --missed run: the steps whose time passed go at once

    // serve: the SiLA 2 server's address and security.
    QString sila; // --sila ADDRESS:PORT
    QString silaCert;
    QString silaKey;
    QString silaClientCa;
    bool silaInsecure = false;
    bool silaOpen = false;

    // For trying faults on the simulated unit (hidden from the help).
    // "silent": the unit does not answer; "unplug": the adapter goes 20 ms
    // after opening; "absent": no adapter is attached.
    QString simFault;
    int simReplyLimitMs = 0; // the reply limit of valvectl's own link on the simulated unit
};

// The options, or what to print and the exit code instead: the help or the
// version (exit 0), or a usage error (exit 2).
struct ParsedOptions {
    std::optional<Options> options;
    QString text;
    int exitCode = 0;
};

ParsedOptions parseOptions(const QStringList& arguments);

} // namespace valve::cli
