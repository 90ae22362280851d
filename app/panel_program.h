#pragma once

class QCommandLineParser;

namespace valve::link {
class FtdiDriver;
}

namespace valve::app {

// The options both panel executables take: --help and --log-file.
void addPanelOptions(QCommandLineParser& options);

// Runs the panel on `driver` until its window closes, or SIGTERM, SIGINT or
// SIGHUP closes it; returns the exit code. The application object exists and
// `options` have been processed.
int runPanel(const QCommandLineParser& options, link::FtdiDriver& driver);

} // namespace valve::app
