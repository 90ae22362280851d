#pragma once

#include "link/prompts.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <qcoro/qcorotimer.h>
#include <random>

namespace valve::testing {

// Message boxes answered by a hurried operator: OK or Cancel at random, after a
// random short while, so that a box can still be open when the next click
// comes. From the program's shut-down on, every box is answered Cancel at once
// (as the real boxes are) and counted, since nothing should ask any more.
class RandomBoxes : public link::MessageBoxes {
public:
    explicit RandomBoxes(std::uint32_t seed) : random_(seed) {}

    QCoro::Task<link::BoxAnswer> message_box(QString text, link::BoxButtons, QString) override {
        texts << text;
        if (shut_down_) {
            ++askedAfterShutDown;
            lastAskedAfterShutDown = text;
            co_return link::BoxAnswer::Cancel;
        }
        const auto answer =
            std::bernoulli_distribution(0.7)(random_) ? link::BoxAnswer::Ok : link::BoxAnswer::Cancel;
        const int delayMs = std::uniform_int_distribution<int>(0, kMaxDelayMs)(random_);
        ++open_;
        if (delayMs > 0) {
            co_await QCoro::sleepFor(std::chrono::milliseconds{delayMs});
        }
        --open_;
        co_return shut_down_ ? link::BoxAnswer::Cancel : answer;
    }

    void shutDown() { shut_down_ = true; }
    [[nodiscard]] int open() const { return open_; }

    static constexpr int kMaxDelayMs = 30;
    QStringList texts;
    int askedAfterShutDown = 0;
    QString lastAskedAfterShutDown;

private:
    std::mt19937 random_;
    int open_ = 0;
    bool shut_down_ = false;
};

} // namespace valve::testing
