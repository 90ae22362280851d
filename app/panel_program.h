#pragma once

#include <optional>

class QCommandLineParser;

namespace valve::link {
class FtdiDriver;
}

namespace valve::app {

// The options both panel executables take: --help, --log-file and the SiLA 2
// server's (--sila and the rest).
void addPanelOptions(QCommandLineParser& options);

// Runs the panel on `driver` until its window closes, or SIGTERM, SIGINT or
// SIGHUP closes it; returns the exit code. The application object exists and
// `options` have been processed.
// When the SiLA 2 options are refused: the exit code (2), with the reason
// on standard error.
std::optional<int> refusedSila(const QCommandLineParser& options);

int runPanel(const QCommandLineParser& options, link::FtdiDriver& driver);

} // namespace valve::app
