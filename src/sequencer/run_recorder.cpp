#include "run_recorder.h"

#include <chrono>

namespace valve::sequencer {

RunRecorder::RunRecorder(JournalFolder& folder, JournalHeader header, RunClock::Duration start,
                         const JournalFolder::Say& say)
    : journal_(folder.begin(header, say)), start_(start) {}

double RunRecorder::msFromStart(RunClock::Duration at) const {
    return std::chrono::duration<double, std::milli>(at - start_).count();
}

QString RunRecorder::id() const {
    return journal_ ? journal_->id() : QString();
}

void RunRecorder::sent(int step, int position, RunClock::Duration due, RunClock::Duration sentAt) {
    step_ = {};
    step_.step = step;
    step_.position = position;
    step_.dueMs = msFromStart(due);
    step_.sentMs = msFromStart(sentAt);
    step_.sentAt = QDateTime::currentDateTimeUtc();
    if (journal_) {
        journal_->sent(step_);
    }
}

void RunRecorder::answered(bool reached, std::optional<int> reported, RunClock::Duration at) {
    step_.answered = true;
    step_.reached = reached;
    step_.reported = reported;
    step_.answeredMs = std::max(msFromStart(at), step_.sentMs);
    step_.answeredAt = QDateTime::currentDateTimeUtc();
    if (journal_) {
        journal_->answered(step_);
    }
}

void RunRecorder::heldUp(int step, qint64 seconds) {
    if (journal_) {
        journal_->heldUp({step, seconds, QDateTime::currentDateTimeUtc()});
    }
}

void RunRecorder::sync() {
    if (journal_) {
        journal_->sync();
    }
}

void RunRecorder::ended(const QString& how, const QString& by, const QString& line) {
    if (journal_) {
        journal_->ended({how, by, line, QDateTime::currentDateTimeUtc()});
        journal_.reset(); // one end a run
    }
}

} // namespace valve::sequencer
