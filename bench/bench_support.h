#pragma once

#include "link/device_chooser.h"
#include "protocol/message_boxes.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <qcoro/qcorotask.h>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace valve::bench {

// Processor time (user + system) this process has used so far.
inline std::chrono::microseconds cpuTime() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto toMicros = [](const timeval& t) {
        return std::chrono::seconds{t.tv_sec} + std::chrono::microseconds{t.tv_usec};
    };
    return std::chrono::duration_cast<std::chrono::microseconds>(toMicros(usage.ru_utime) +
                                                                 toMicros(usage.ru_stime));
}

// How long this thread has so far been ready to run but kept waiting for a
// processor by other processes (Linux schedstat); zero where it is not known.
// On a shared machine this is the part of a wait the program cannot help.
inline std::chrono::nanoseconds runQueueWait() {
    std::FILE* file = std::fopen("/proc/thread-self/schedstat", "r");
    if (file == nullptr) {
        return {};
    }
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    const int fields = std::fscanf(file, "%llu %llu", &running, &waiting);
    std::fclose(file);
    return std::chrono::nanoseconds{fields == 2 ? static_cast<long long>(waiting) : 0};
}

inline double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// The figures of one benchmark run: printed as a table, or as one JSON object
// (figure name to number) with --json.
class Report {
public:
    void add(const std::string& name, double value, const std::string& unit) {
        figures_.push_back({name, value, unit});
    }
    [[nodiscard]] bool has(const std::string& name) const {
        return std::any_of(figures_.begin(), figures_.end(),
                           [&](const Figure& figure) { return figure.name == name; });
    }
    // The value of a figure; NaN when there is none by that name.
    [[nodiscard]] double value(const std::string& name) const {
        const auto found = std::find_if(figures_.begin(), figures_.end(),
                                        [&](const Figure& figure) { return figure.name == name; });
        return found == figures_.end() ? std::nan("") : found->value;
    }
    void print(bool json) const {
        if (json) {
            std::printf("{");
            for (std::size_t i = 0; i < figures_.size(); ++i) {
                const char* separator = i == 0 ? "" : ", ";
                if (std::isnan(figures_[i].value)) { // not measured: JSON has no NaN
                    std::printf("%s\"%s\": null", separator, figures_[i].name.c_str());
                } else {
                    std::printf("%s\"%s\": %.6g", separator, figures_[i].name.c_str(), figures_[i].value);
                }
            }
            std::printf("}\n");
            return;
        }
        for (const auto& figure : figures_) {
            std::printf("%-48s %10.3f %s\n", figure.name.c_str(), figure.value, figure.unit.c_str());
        }
    }

private:
    struct Figure {
        std::string name;
        double value;
        std::string unit;
    };
    std::vector<Figure> figures_;
};

inline bool hasArgument(int argc, char** argv, const std::string& wanted) {
    return std::any_of(argv + 1, argv + argc, [&](const char* arg) { return wanted == arg; });
}

inline bool wantsJson(int argc, char** argv) {
    return hasArgument(argc, argv, "--json");
}

// Runs the coroutine that `start` begins to its end, taking events meanwhile.
// `start` is kept in the frame of the coroutine that awaits it, so what it
// captures lives as long as the run. (The benchmark's own loop, not the panel's.)
template <typename Start> void runToEnd(Start start) {
    bool done = false;
    [](Start job, bool& finished) -> QCoro::Task<> {
        co_await job();
        finished = true;
    }(std::move(start), done);
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

// A chooser that takes the first device; benchmarks attach one adapter only.
class FirstDeviceChooser : public link::DeviceChooser {
public:
    QCoro::Task<QByteArray> choose(QList<QByteArray> descriptions) override {
        co_return descriptions.value(0);
    }
};

// Message boxes are not expected in a benchmark run; any would be answered at
// once and counted.
class SilentBoxes : public protocol::MessageBoxes {
public:
    int shown = 0;
    QCoro::Task<protocol::BoxAnswer> message_box(QString, protocol::BoxButtons, QString) override {
        ++shown;
        co_return protocol::BoxAnswer::Ok;
    }
};

// Voluntary context switches of every thread of process `pid` so far.
inline long processWakeUps(qint64 pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    long total = 0;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks + QLatin1Char('/') + task + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly | QIODevice::Text)) {
            continue;
        }
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (line.startsWith("voluntary_ctxt_switches:")) {
                total += line.mid(24).trimmed().toLong();
            }
        }
    }
    return total;
}

} // namespace valve::bench
