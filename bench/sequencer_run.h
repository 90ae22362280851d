#pragma once

// The timed event run on the simulated unit: twenty events half a second
// apart, from 0.5 s to 10 s. For each step, how far its move command left the
// host from its time counted from the press of "Run"; against a model of the
// same table run with relative delays on a timer that ticks every 15.6 ms.
#include "sequencer/run_journal.h"
#include "sequencer/sequencer.h"
#include "sequencer/stored_event_table.h"
#include "sim_session.h"

#include <cmath>
#include <sys/resource.h>
#include <unistd.h>

namespace valve::bench {

class SequencerRun : public SimSession {
public:
    static constexpr int kEvents = 20;
    static constexpr double kInterval = 0.5; // seconds
    static constexpr double kCoarseTickMs = 15.6;

    // `priority`: what raises the logic thread's priority during the run; none: it is not raised.
    // `journals`: where the run keeps its journal, as the panel's runs do; none: it keeps none.
    explicit SequencerRun(sequencer::PriorityRaiser* priority = nullptr,
                          sequencer::JournalFolder* journals = nullptr)
        : sequencer{session, table, {.priority = priority, .journals = journals}} {
        for (int step = 0; step < kEvents; ++step) {
            // Between positions 2 and 3: every move is one step of the valve.
            table.setRow(step, QString::number(eventTime(step)), QString::number(2 + step % 2));
        }
    }

    // Runs the table once and adds its figures, named from `prefix`; false
    // (with a note on stderr) when the run did not complete. The model's
    // figures come with the plain prefix only.
    bool report(Report& report, const std::string& prefix = "sequencer_") {
        using namespace std::chrono;
        driver.wire(0).clear();
        // When each move ended; and how long the thread had been kept from a
        // processor by then and when each step woke ("Waited" is logged just
        // before the move goes out).
        std::vector<sim::SimTime> moveEnds;
        std::vector<std::chrono::nanoseconds> queuedAtEnd{runQueueWait()};
        std::vector<std::chrono::nanoseconds> queuedAtWake;
        int niceAtWake = -20; // the least raised of the steps' wake-ups
        const auto connection =
            QObject::connect(&log, &record::EventLog::lineAppended, [&](const QString& line) {
                if (line.startsWith(QStringLiteral("Position set to")) ||
                    line.startsWith(QStringLiteral("Position was"))) {
                    moveEnds.push_back(sim::SimClock::now());
                    queuedAtEnd.push_back(runQueueWait());
                } else if (line.startsWith(QStringLiteral("Waited"))) {
                    queuedAtWake.push_back(runQueueWait());
                    niceAtWake =
                        std::max(niceAtWake, ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())));
                }
            });

        const auto cpuBefore = cpuTime();
        const auto pressed = sim::SimClock::now();
        runToEnd([this] { return sequencer.btnRun_Click(); });
        const auto wall = sim::SimClock::now() - pressed;
        const auto cpu = cpuTime() - cpuBefore;
        QObject::disconnect(connection);

        const auto writes = moveWrites();
        if (writes.size() != static_cast<std::size_t>(kEvents) || moveEnds.size() != writes.size() ||
            queuedAtWake.size() != writes.size() || boxes.shown != 0) {
            std::fprintf(stderr, "run incomplete: %zu moves sent, %zu ended, %d boxes\n", writes.size(),
                         moveEnds.size(), boxes.shown);
            return false;
        }
        std::vector<double> ours;
        std::vector<double> oursLessQueued;
        std::vector<double> queuedMs;
        std::vector<double> moveMs;
        for (int step = 0; step < kEvents; ++step) {
            const double sentMs = duration<double, std::milli>(writes[step] - pressed).count();
            ours.push_back(sentMs - eventTime(step) * 1000.0);
            // What other processes added to this step's wake-up.
            queuedMs.push_back(duration<double, std::milli>(queuedAtWake[step] - queuedAtEnd[step]).count());
            oursLessQueued.push_back(ours.back() - queuedMs.back());
            moveMs.push_back(duration<double, std::milli>(moveEnds[step] - writes[step]).count());
        }
        const auto model = coarseModelMs(moveMs);
        std::vector<double> reference;
        for (int step = 0; step < kEvents; ++step) {
            reference.push_back(model[step] - eventTime(step) * 1000.0);
        }

        const Deviations a = deviationsOf(ours);
        const Deviations b = deviationsOf(reference);
        report.add(prefix + "deviation_median_ms", a.medianMs, "ms, |move sent - due|, 20 steps");
        report.add(prefix + "deviation_largest_ms", a.largestMs, "ms");
        report.add(prefix + "deviation_last_step_ms", a.lastMs, "ms, signed");
        report.add(prefix + "wake_run_queue_largest_ms", *std::max_element(queuedMs.begin(), queuedMs.end()),
                   "ms, largest wait for a processor at a step's wake-up");
        report.add(prefix + "deviation_largest_less_run_queue_ms", deviationsOf(oursLessQueued).largestMs,
                   "ms, each step less that wait");
        report.add(prefix + "nice_at_wake", niceAtWake,
                   "nice level of the logic thread at the steps' wake-ups");
        report.add(prefix + "run_cpu_percent",
                   100.0 * duration<double>(cpu).count() / duration<double>(wall).count(),
                   "% of one core over the run");
        report.add(prefix + "move_time_median_ms", median(moveMs), "ms, move sent to position confirmed");
        if (prefix != "sequencer_") {
            return true;
        }
        report.add("coarse_relative_deviation_median_ms", b.medianMs,
                   "ms, model: relative delays, 15.6 ms tick");
        report.add("coarse_relative_deviation_largest_ms", b.largestMs, "ms");
        report.add("coarse_relative_deviation_last_step_ms", b.lastMs, "ms, signed");
        return true;
    }

private:
    struct Deviations {
        double medianMs;
        double largestMs;
        double lastMs;
    };

    static double eventTime(int step) { return kInterval * (step + 1); }

    // When each move command's first byte was written: the wire records it on
    // reaching the unit, one byte time later (the line is idle before a move).
    std::vector<sim::SimTime> moveWrites() {
        std::vector<sim::SimTime> times = driver.wire(0).hostLineStarts('P');
        for (auto& at : times) {
            at -= sim::kByteTime19200;
        }
        return times;
    }

    // The relative-delay reference: each delay (rounded to the millisecond) is
    // started when the previous step woke, fires on the first coarse tick after
    // it has run out, and the step cannot begin before the previous move ended.
    static std::vector<double> coarseModelMs(const std::vector<double>& moveMs) {
        std::vector<double> starts;
        double woke = 0.0;
        double previousTime = 0.0;
        for (int step = 0; step < kEvents; ++step) {
            const double delay = std::nearbyint((eventTime(step) - previousTime) * 1000.0);
            double fires = std::ceil((woke + delay) / kCoarseTickMs) * kCoarseTickMs;
            if (step > 0) {
                fires = std::max(fires, woke + moveMs[step - 1]);
            }
            starts.push_back(fires);
            woke = fires;
            previousTime = eventTime(step);
        }
        return starts;
    }

    static Deviations deviationsOf(const std::vector<double>& deviationsMs) {
        std::vector<double> absolute;
        for (double d : deviationsMs) {
            absolute.push_back(std::abs(d));
        }
        return {median(absolute), *std::max_element(absolute.begin(), absolute.end()), deviationsMs.back()};
    }

    sequencer::StoredEventTable table;
    sequencer::Sequencer sequencer;
};

} // namespace valve::bench
