#pragma once

// `valvectl --sim status` from process start to exit, beside the same query
// through the panel's own code path: "Read Status" on a session of the
// simulated unit in this process, the link already open.
#include "protocol/query_commands.h"
#include "protocol/text_field.h"
#include "sim_session.h"

#include <QProcess>

namespace valve::bench {

class ValvectlStatusBench : public SimSession {
public:
    static constexpr int kRuns = 11;
    static constexpr int kQueries = 31;

    // False (with a note on stderr) when valvectl did not answer.
    bool report(Report& report) {
        std::vector<double> processes;
        for (int i = 0; i < kRuns; ++i) {
            QProcess child;
            const auto started = std::chrono::steady_clock::now();
            child.start(QStringLiteral(VALVECTL), {QStringLiteral("--sim"), QStringLiteral("status")});
            // A blocking wait is fine here: nothing else runs meanwhile.
            if (!child.waitForFinished(30'000) || child.exitCode() != 0) {
                std::fprintf(stderr, "valvectl --sim status failed\n%s",
                             child.readAllStandardError().constData());
                return false;
            }
            processes.push_back(msSince(started));
        }
        std::vector<double> queries;
        for (int i = 0; i < kQueries; ++i) {
            protocol::StoredText box;
            const auto started = std::chrono::steady_clock::now();
            runToEnd([&]() -> QCoro::Task<> { co_await protocol::read_status(session, box); });
            queries.push_back(msSince(started));
        }
        report.add("valvectl_sim_status_ms", median(processes),
                   "ms, valvectl --sim status, start to exit, median of 11");
        report.add("panel_status_query_ms", median(queries),
                   "ms (reference: the same query in the panel's code path, link open)");
        return true;
    }

private:
    static double msSince(std::chrono::steady_clock::time_point started) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    }
};

} // namespace valve::bench
