#pragma once

#include "qt_printers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <chrono>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::testing {

// Runs the event loop of a test until `done` holds or `limit` has passed.
// Only tests do this; the program itself never spins a nested loop.
inline bool runUntil(const std::function<bool()>& done,
                     std::chrono::milliseconds limit = std::chrono::milliseconds{5000}) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limit.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// Starts a coroutine and runs the event loop until it has finished.
template <typename T>
T await(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::milliseconds{20000}) {
    bool finished = false;
    T result{};
    auto wrapper = [&]() -> QCoro::Task<> {
        result = co_await std::move(task);
        finished = true;
    };
    wrapper();
    runUntil([&] { return finished; }, limit);
    return result;
}

inline bool await(QCoro::Task<> task, std::chrono::milliseconds limit = std::chrono::milliseconds{20000}) {
    bool finished = false;
    auto wrapper = [&]() -> QCoro::Task<> {
        co_await std::move(task);
        finished = true;
    };
    wrapper();
    return runUntil([&] { return finished; }, limit);
}

// Starts a coroutine and puts its result in `out` when it ends.
template <typename T> QCoro::Task<> into(QCoro::Task<T> task, std::optional<T>& out) {
    out = co_await std::move(task);
}

} // namespace valve::testing
