#pragma once

#include "link/prompts.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
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
    void print(bool json) const {
        if (json) {
            std::printf("{");
            for (std::size_t i = 0; i < figures_.size(); ++i) {
                std::printf("%s\"%s\": %.6g", i == 0 ? "" : ", ", figures_[i].name.c_str(), figures_[i].value);
            }
            std::printf("}\n");
            return;
        }
        for (const auto& figure : figures_) {
            std::printf("%-44s %12.3f %s\n", figure.name.c_str(), figure.value, figure.unit.c_str());
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

inline bool wantsJson(int argc, char** argv) {
    return std::any_of(argv + 1, argv + argc, [](const char* arg) { return std::string(arg) == "--json"; });
}

// A chooser that takes the first device; benchmarks attach one adapter only.
class FirstDeviceChooser : public link::DeviceChooser {
public:
    QCoro::Task<QByteArray> choose(QList<QByteArray> descriptions) override { co_return descriptions.value(0); }
};

} // namespace valve::bench
