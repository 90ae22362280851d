#include "sequencer/journal_format.h"
#include "sequencer/run_journal.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace valve::sequencer;

namespace {

const QDateTime kStart = QDateTime::fromString(QStringLiteral("2026-12-07T20:15:00.250Z"), Qt::ISODateWithMs);

JournalHeader header(const QDateTime& start = kStart) {
    return {.steps = {{0, 3}, {2.5, 7}, {60, 1}},
            .routine = "flush.txt",
            .adapterDescription = "Nerra A",
            .adapterSerial = "FT1234",
            .program = "1.4.0",
            .start = start,
            .bootId = "0f1e",
            .origin = "window",
            .continues = {}};
}

// A move to 3, answered 80 ms after it was sent; `reached`: whether it got there, none: not answered.
StepRecord step(int n, double dueMs, double sentMs, std::optional<bool> reached) {
    const QDateTime sentAt = kStart.addMSecs(static_cast<qint64>(sentMs));
    const bool there = reached.value_or(false);
    return {.step = n,
            .position = 3,
            .dueMs = dueMs,
            .sentMs = sentMs,
            .sentAt = sentAt,
            .answered = reached.has_value(),
            .reached = there,
            .reported = there ? std::optional(3) : std::nullopt,
            .answeredMs = sentMs + 80,
            .answeredAt = sentAt.addMSecs(80)};
}

// A run that did its first step, slept through the second's time and died after sending its move.
QByteArray diedAfterSending() {
    return headerLine(header()) + sentLine(step(0, 0, 1.25, true)) + answeredLine(step(0, 0, 1.25, true)) +
           holdUpLine({1, 3600, kStart.addSecs(3602)}) + sentLine(step(1, 2500, 3602000.5, std::nullopt));
}

// The steps and hold-ups of a run are read back in the run's tests; here what a run cannot fix: exact
// times and the adapter.
TEST(JournalReading, ReadsBackTheHeaderAndTheTimesOfARunThatDiedAfterSending) {
    const JournalReading reading = readJournal(diedAfterSending());
    ASSERT_EQ(reading.problem, JournalProblem::None) << reading.detail.toStdString();
    const Journal& j = reading.journal;
    EXPECT_EQ(std::tuple(j.header.steps, j.header.start, j.header.adapterSerial),
              std::tuple(header().steps, kStart, "FT1234"));
    EXPECT_EQ(
        std::tuple(j.steps.size(), j.stepsDone(), j.largestDeviationMs(), j.end.has_value(), j.lastLine),
        std::tuple(2, 1, std::optional(3602000.5 - 2500), false,
                   step(1, 2500, 3602000.5, std::nullopt).sentAt));
}

TEST(JournalReading, ATornLastLineIsLeftOutAndAnythingElseAmissIsReportedNotGuessed) {
    const QByteArray good = diedAfterSending();
    const QByteArray endOfRun = endLine({kEndCompleted, {}, {}, kStart});
    struct Case {
        const char* what;
        QByteArray contents;
        JournalProblem problem;
        qsizetype steps = 0;
        bool torn = false;
    };
    QByteArray newer = headerLine(header());
    newer.replace("\"version\":1", "\"version\":2,\"shape\":\"other\"");
    QByteArray badTime = good;
    badTime.replace("\"at\":\"2026-12-07T20:15:00.251Z\"", "\"at\":\"yesterday\"");
    const QList<Case> cases{
        {"torn end line", good + endOfRun.left(20), JournalProblem::None, 2, true},
        {"torn answer", good + answeredLine(step(1, 2500, 3602000.5, true)).chopped(1), JournalProblem::None,
         2, true},
        {"empty", "", JournalProblem::Empty},
        {"torn header only", headerLine(header()).left(40), JournalProblem::Empty},
        {"newer version", newer + "{\"kind\":\"whatever\"}\n", JournalProblem::NewerVersion},
        {"plain text", "0,1\n5,2\n", JournalProblem::NotAJournal},
        {"other JSON", "{\"kind\":\"sent\",\"step\":0}\n", JournalProblem::NotAJournal},
        {"damaged middle line", headerLine(header()) + "{\"kind\":\"sent\",\n" + endOfRun,
         JournalProblem::Damaged},
        {"answer with nothing sent", headerLine(header()) + answeredLine(step(0, 0, 1, true)),
         JournalProblem::Damaged},
        {"step beyond the table", headerLine(header()) + sentLine(step(3, 0, 1, std::nullopt)),
         JournalProblem::Damaged},
        {"a step sent twice", good + sentLine(step(1, 2500, 3602001, std::nullopt)), JournalProblem::Damaged},
        {"a line after the end", good + endOfRun + endOfRun, JournalProblem::Damaged},
        {"a time that is no time", badTime, JournalProblem::Damaged},
        {"a blank line", headerLine(header()) + "\n" + endOfRun, JournalProblem::Damaged},
    };
    for (const Case& c : cases) {
        const JournalReading r = readJournal(c.contents);
        EXPECT_EQ(std::tuple(r.problem, r.journal.steps.size(), r.torn, r.journal.end.has_value()),
                  std::tuple(c.problem, c.steps, c.torn, false))
            << c.what;
        EXPECT_EQ(r.detail.isEmpty(), c.problem == JournalProblem::None) << c.what;
    }
}

// What a journal holds once written is read back in the run's tests.
TEST(JournalFolder, KeepsTheNewestJournalsEachRunWithItsOwn) {
    QTemporaryDir dir;
    JournalFolder folder(dir.path() + QStringLiteral("/state/runs"));
    QStringList said, begun;
    for (int n = 0; n < JournalFolder::kKept + 4; ++n) {
        // The last two runs start in the same second: each gets a journal of its own.
        const auto journal = folder.begin(header(kStart.addSecs(std::min(n, JournalFolder::kKept + 2))),
                                          [&said](const QString& line) { said << line; });
        ASSERT_NE(journal, nullptr);
        begun << journal->id();
    }
    EXPECT_NE(begun.last(), begun.at(begun.size() - 2));
    EXPECT_EQ(folder.ids().size(), JournalFolder::kKept);
    EXPECT_FALSE(folder.ids().contains(begun.first()));
    EXPECT_TRUE(said.isEmpty());
}

} // namespace
