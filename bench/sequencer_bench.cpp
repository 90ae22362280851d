// The timed event run on its own; perf_report prints it with the rest.
#include "sequencer_run.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    valve::bench::SequencerRun run;
    valve::bench::Report report;
    if (!run.report(report)) {
        return 1;
    }
    report.print(valve::bench::wantsJson(argc, argv));
    return 0;
}
