#pragma once

#include <QByteArray>
#include <qcoro/qcorotask.h>

namespace valve::link {
class FtdiDriver;
}

namespace valve::sim {
class SimulatedDriver;
}

namespace valve::cli {

struct Options;

// valvectl serve: holds the adapter of `description` and serves it over SiLA
// 2 until SIGTERM or SIGINT, then closes it. The events log goes to standard
// error. Returns the exit code: 0 after a signal, 1 when the adapter cannot
// be opened, 2 when the server cannot start (the reason on standard error).
QCoro::Task<int> serveSila(const Options& options, link::FtdiDriver& driver, sim::SimulatedDriver* sim,
                           QByteArray description);

} // namespace valve::cli
