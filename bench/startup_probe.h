#pragma once

// Start-up time and peak memory of the panel, each measured in a child
// process of its own: the child (this program with --startup-probe) builds the
// panel on one simulated unit, offscreen, and prints when its main window got
// its first Show and first Paint and how much memory it held at its peak. The
// reference is the same child showing an empty main window (--startup-probe-bare):
// what the toolkit alone costs.
#include "bench_support.h"
#include "sim/simulated_driver.h"
#include "ui/main_window.h"
#include "ui/panel.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QProcess>
#include <QTimer>
#include <cstdint>

namespace valve::bench {

inline constexpr const char* kStartupProbe = "--startup-probe";
inline constexpr const char* kBareStartupProbe = "--startup-probe-bare";

// Nanoseconds on the monotonic clock, which parent and child share.
inline std::int64_t monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The process's peak resident set (VmHWM), in kB; 0 when it cannot be read.
inline long peakResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return 0;
    }
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return 0;
}

// Notes the main window's first Show and the first Paint of any widget, and
// ends the event loop once the first frame has been painted.
class FirstFrameWatch : public QObject {
public:
    explicit FirstFrameWatch(QWidget& window) : window_(window) { qApp->installEventFilter(this); }

    std::int64_t shownAt = 0;
    std::int64_t paintedAt = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched == &window_ && shownAt == 0) {
            shownAt = monotonicNs();
        } else if (event->type() == QEvent::Paint && paintedAt == 0) {
            paintedAt = monotonicNs();
            // The rest of this frame is painted before the loop ends.
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    QWidget& window_;
};

// The child's side: starts up, prints one JSON line, ends. `mainEntered` is
// taken by main() before anything else, before the application object exists.
inline int runStartupProbe(int argc, char** argv, std::int64_t mainEntered, bool bare) {
    QApplication app(argc, argv);
    std::int64_t shownAt = 0;
    std::int64_t paintedAt = 0;
    // A window that never paints still ends the child.
    QTimer::singleShot(10'000, &app, &QCoreApplication::quit);
    if (bare) {
        QMainWindow window;
        FirstFrameWatch watch(window);
        window.show();
        QApplication::exec();
        shownAt = watch.shownAt;
        paintedAt = watch.paintedAt;
    } else {
        sim::SimulatedDriver driver;
        driver.addAdapter("NR Valve Unit");
        ui::Panel panel(driver);
        FirstFrameWatch watch(panel.window());
        panel.start();
        QApplication::exec();
        shownAt = watch.shownAt;
        paintedAt = watch.paintedAt;
    }
    QJsonObject out{{QStringLiteral("main"), static_cast<double>(mainEntered)},
                    {QStringLiteral("shown"), static_cast<double>(shownAt)},
                    {QStringLiteral("painted"), static_cast<double>(paintedAt)},
                    {QStringLiteral("peak_kb"), static_cast<double>(peakResidentKb())}};
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return shownAt != 0 && paintedAt != 0 ? 0 : 1;
}

// The parent's side: starts the child `kRuns` times and adds the medians.
class StartupBench {
public:
    static constexpr int kRuns = 5;

    // False (with a note on stderr) when a child did not show its window.
    bool report(Report& report) {
        Samples panel;
        Samples bare;
        for (int i = 0; i < kRuns; ++i) {
            if (!probe(kStartupProbe, panel) || !probe(kBareStartupProbe, bare)) {
                return false;
            }
        }
        report.add("startup_to_shown_ms", median(panel.toShown), "ms, process start to main window shown");
        report.add("startup_to_first_paint_ms", median(panel.toPainted), "ms, process start to first paint");
        report.add("startup_main_to_shown_ms", median(panel.mainToShown),
                   "ms, main() (before QApplication) to shown");
        report.add("startup_peak_memory_mb", *std::max_element(panel.peakMb.begin(), panel.peakMb.end()),
                   "MB, child's VmHWM, largest of the runs");
        report.add("bare_window_startup_to_shown_ms", median(bare.toShown),
                   "ms (reference: empty main window)");
        report.add("bare_window_startup_to_first_paint_ms", median(bare.toPainted), "ms (reference)");
        report.add("bare_window_peak_memory_mb", *std::max_element(bare.peakMb.begin(), bare.peakMb.end()),
                   "MB (reference)");
        return true;
    }

private:
    struct Samples {
        std::vector<double> toShown;
        std::vector<double> toPainted;
        std::vector<double> mainToShown;
        std::vector<double> peakMb;
    };

    static bool probe(const char* mode, Samples& samples) {
        QProcess child;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(environment);
        const double started = static_cast<double>(monotonicNs());
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode)});
        // A blocking wait is fine here: nothing else runs while the child starts.
        if (!child.waitForFinished(30'000) || child.exitCode() != 0) {
            std::fprintf(stderr, "%s: the child did not show its window\n%s", mode,
                         child.readAllStandardError().constData());
            return false;
        }
        const QJsonObject out = QJsonDocument::fromJson(child.readAllStandardOutput()).object();
        const auto ms = [](double from, double to) { return (to - from) / 1e6; };
        samples.toShown.push_back(ms(started, out.value(QStringLiteral("shown")).toDouble()));
        samples.toPainted.push_back(ms(started, out.value(QStringLiteral("painted")).toDouble()));
        samples.mainToShown.push_back(
            ms(out.value(QStringLiteral("main")).toDouble(), out.value(QStringLiteral("shown")).toDouble()));
        samples.peakMb.push_back(out.value(QStringLiteral("peak_kb")).toDouble() / 1024.0);
        return true;
    }
};

} // namespace valve::bench
