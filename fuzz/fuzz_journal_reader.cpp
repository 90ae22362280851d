// The reader of run journals. Whatever the bytes, it returns; a journal it
// reads is whole and self-consistent, and it reads the same journal again from
// the lines it would write for it.

#include "fuzz_check.h"
#include "sequencer/journal_format.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

using namespace valve::sequencer;

namespace {

// The lines a reader's journal stands for, as the writer writes them.
QByteArray rewritten(const Journal& journal) {
    QByteArray out = headerLine(journal.header);
    for (const StepRecord& step : journal.steps) {
        out += sentLine(step);
        if (step.answered) {
            out += answeredLine(step);
        }
    }
    for (const HoldUp& holdUp : journal.holdUps) {
        out += holdUpLine(holdUp);
    }
    if (journal.end) {
        out += endLine(*journal.end);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray contents(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const JournalReading reading = readJournal(contents);
    if (reading.problem != JournalProblem::None) {
        FUZZ_CHECK(!reading.detail.isEmpty());
        return 0;
    }
    const Journal& journal = reading.journal;
    FUZZ_CHECK(!journal.header.steps.isEmpty());
    FUZZ_CHECK(reading.torn == !contents.endsWith('\n'));
    int previous = -1;
    for (const StepRecord& step : journal.steps) {
        FUZZ_CHECK(step.step > previous && step.step < journal.header.steps.size());
        previous = step.step;
    }
    FUZZ_CHECK(journal.stepsDone() <= journal.steps.size());
    // Hold-ups were written between the steps; rewritten after them, the
    // journal must still read the same.
    const JournalReading again = readJournal(rewritten(journal));
    FUZZ_CHECK(again.problem == JournalProblem::None);
    FUZZ_CHECK(again.journal.steps.size() == journal.steps.size());
    FUZZ_CHECK(again.journal.header.steps == journal.header.steps);
    FUZZ_CHECK(again.journal.end.has_value() == journal.end.has_value());
    // Cut anywhere, a journal reads up to its last whole line.
    const JournalReading cut = readJournal(QByteArrayView(contents).first(static_cast<qsizetype>(size / 2)));
    FUZZ_CHECK(cut.problem != JournalProblem::None || cut.journal.steps.size() <= journal.steps.size());
    return 0;
}
