// The link's reply wait on its own; perf_report prints it with the rest.
#include "link_wait.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    valve::bench::LinkWaitBench bench;
    valve::bench::Report report;
    bench.report(report);
    report.print(valve::bench::wantsJson(argc, argv));
    return 0;
}
