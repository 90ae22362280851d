#pragma once

// The idle cost and reply pick-up of the hardware backends, each beside the
// design it replaces, measured in child processes (backend_idle_probe) that
// run side by side: libftdi1 on an emulated chip, D2XX on the test double.
#include "bench_support.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <array>
#include <memory>

namespace valve::bench {

class BackendIdleBench {
public:
    // False (with a note on stderr) when a child did not finish its run.
    bool report(Report& report) {
        struct Run {
            const char* figure;
            const char* what;
            QStringList arguments;
            std::unique_ptr<QProcess> child;
        };
        const QString d2xxDouble = QStringLiteral(D2XX_DOUBLE_PATH);
        std::array<Run, 6> runs{{
            {"libftdi", "libftdi1 on the emulated chip", {"libftdi", "ours"}, nullptr},
            {"libftdi_no_event_char",
             "reference: the chip without its event character",
             {"libftdi", "no-event-char"},
             nullptr},
            {"libftdi_2ms_timer",
             "reference: a 2 ms latency timer and no event character",
             {"libftdi", "timer-2ms"},
             nullptr},
            {"libftdi_reader_in_a_loop",
             "reference: the reader always reading",
             {"libftdi", "reference"},
             nullptr},
            {"d2xx", "D2XX on the test double", {"d2xx", "ours", d2xxDouble}, nullptr},
            {"d2xx_20ms_recheck",
             "reference: the waiter checking every 20 ms",
             {"d2xx", "reference", d2xxDouble},
             nullptr},
        }};
        for (Run& run : runs) {
            run.child = std::make_unique<QProcess>();
            run.child->start(QStringLiteral(BACKEND_IDLE_PROBE_PATH), run.arguments);
        }
        bool complete = true;
        for (Run& run : runs) {
            // A blocking wait is fine here: the children run on their own.
            if (!run.child->waitForFinished(60'000) || run.child->exitCode() != 0) {
                std::fprintf(stderr, "backend_idle_probe %s: no result\n%s",
                             run.arguments.join(QLatin1Char(' ')).toLocal8Bit().constData(),
                             run.child->readAllStandardError().constData());
                complete = false;
                continue;
            }
            const QJsonObject out = QJsonDocument::fromJson(run.child->readAllStandardOutput()).object();
            const std::string name = run.figure;
            if (out.contains(QStringLiteral("wakeups_per_s"))) {
                report.add(
                    name + "_idle_wakeups_per_s", out.value(QStringLiteral("wakeups_per_s")).toDouble(),
                    std::string("wake-ups/s over 10 s idle, adapter open, all threads (") + run.what + ")");
            }
            const bool onChip = run.arguments.front() == QStringLiteral("libftdi");
            report.add(name + "_pickup_median_ms", out.value(QStringLiteral("pickup_median_ms")).toDouble(),
                       std::string(onChip ? "ms, reply's end at the chip to the end of its read ("
                                          : "ms, reply byte at the adapter to read end (") +
                           run.what + ")");
        }
        return complete;
    }
};

} // namespace valve::bench
