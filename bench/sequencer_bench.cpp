// The timed event run on its own, without and with its journal (in a folder
// under the current one); perf_report prints it with the rest.
#include "sequencer_run.h"

#include <QDir>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    valve::bench::Report report;
    {
        valve::bench::SequencerRun run;
        if (!run.report(report)) {
            return 1;
        }
    }
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/journal-bench-XXXXXX"));
    valve::sequencer::JournalFolder journals(dir.path());
    valve::bench::SequencerRun run(&journals);
    if (!run.report(report)) {
        return 1;
    }
    report.print(valve::bench::wantsJson(argc, argv));
    return 0;
}
