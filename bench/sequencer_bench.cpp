// The timed event run on its own, on a quiet and on a busy machine; perf_report
// prints it with the rest.
#include "sequencer_runs.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    valve::bench::Report report;
    if (!valve::bench::reportSequencerRuns(report)) {
        return 1;
    }
    report.print(valve::bench::wantsJson(argc, argv));
    return 0;
}
