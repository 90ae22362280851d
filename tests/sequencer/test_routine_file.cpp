#include "sequencer/event_table.h"
#include "sequencer/routine_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace valve::sequencer;

namespace {

TEST(RoutineFile, KeepsTheTextsAsWrittenAndRoundsPositionsAsTheTableDoes) {
    const RoutineRead read = parseRoutine("# flush\r\n0,1\r\n\n \t2.50 ,\t4.5 # sample\r\n604800,255.4\n",
                                          QStringLiteral("r.txt"));
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    ASSERT_EQ(read.steps.size(), 3U);
    const RoutineStep& second = read.steps[1];
    EXPECT_EQ(std::tuple(second.time, second.seconds, second.target, read.steps[2].target),
              std::tuple("2.50", 2.5, 4, 255)); // 4.5: ties to even
    EXPECT_EQ(formatRoutine(read.steps), QByteArray("0,1\n2.50,4.5\n604800,255.4\n"));
}

TEST(RoutineFile, TableAndFileHoldTheSameTextsEachWithItsOwnDecimalSeparator) {
    const QLocale german(QLocale::German);
    const std::vector<TableRow> table{{"0", "1"}, {"2,50", "4,5"}, {"1.234,5", "7"}, {"604800", " 255 "}};
    const RoutineRead saved = routineFromTable(table, german);
    ASSERT_TRUE(saved.ok()) << saved.error.toStdString();
    const QByteArray file = formatRoutine(saved.steps);
    EXPECT_EQ(file, "0,1\n2.50,4.5\n1234.5,7\n604800,255\n"); // group separators are dropped
    const RoutineRead loaded = parseRoutine(file, QStringLiteral("r.txt"));
    ASSERT_EQ(loaded.steps.size(), 4U);
    for (const int row : {0, 1, 2, 3}) {
        const TableRow back = tableRow(loaded.steps[row], german);
        EXPECT_EQ(back.time, row == 2 ? "1234,5" : table[row].time) << row;
        EXPECT_EQ(back.position, table[row].position.trimmed()) << row;
    }
    EXPECT_EQ(routineFromTable({{"0", "1"}, {"5", ""}}, german).error,
              "event 2: a time and a position are both needed");
    EXPECT_EQ(routineFromTable(std::vector<TableRow>(20), german).error, "the table holds no events");
}

TEST(RoutineFile, RefusesABadFileNamingItAndTheLine) {
    const QByteArray x40(40, 'x');
    const struct {
        const char* what;
        QByteArray content;
        QString error;
    } cases[] = {
        {"only comments", "# nothing\n\n", "r.txt: holds no steps"},
        {"binary", QByteArray("0,1\n\0\x01", 6), "r.txt, line 2: holds the control character U+0000"},
        {"NUL in a comment", QByteArray("0,1 # x\0\n", 10),
         "r.txt, line 1: holds the control character U+0000"},
        {"escape in a position", "0,1\n1,\x1b[2J5\n", "r.txt, line 2: holds the control character U+001B"},
        {"CR inside a line", "0,1\r5,2\n", "r.txt, line 1: holds the control character U+000D"},
        {"C1 control", "0,1\n\xc2\x85", "r.txt, line 2: holds the control character U+0085"},
        {"not UTF-8", "0,1\n\xff\xfe", "r.txt: not a text file"},
        {"one field", "0,1\n5\n", "r.txt, line 2: expected \"seconds,position\", found \"5\""},
        {"time not a number", "\n2s,1\n", "r.txt, line 2: the time \"2s\" is not a number of seconds"},
        {"comma as separator", "2,5,1\n", "r.txt, line 1: expected \"seconds,position\", found \"2,5,1\""},
        {"above a week", "604800.5,1\n",
         "r.txt, line 1: the time 604800.5 is above 604800 seconds (one week)"},
        {"earlier", "5,1\n4,2\n", "r.txt, line 2: the time 4 is earlier than the step before it (5)"},
        {"negative", "-1,1\n", "r.txt, line 1: the time -1 is earlier than the step before it (0)"},
        {"position above a byte", "0,255.5\n",
         "r.txt, line 1: the position \"255.5\" is not a number from 0 to 255"},
        {"position missing", "0,\n", "r.txt, line 1: the position \"\" is not a number from 0 to 255"},
        {"21 steps", QByteArray("0,1\n").repeated(21), "r.txt, line 21: more than 20 steps"},
        {"line of 40", x40, "r.txt, line 1: expected \"seconds,position\", found \"" + x40 + "\""},
        {"line of 41", x40 + 'x', "r.txt, line 1: expected \"seconds,position\", found \"" + x40 + "...\""},
    };
    for (const auto& c : cases) {
        const RoutineRead read = parseRoutine(c.content, QStringLiteral("r.txt"));
        EXPECT_EQ(std::tuple(read.error, read.steps.size()), std::tuple(c.error, 0U)) << c.what;
    }
}

// A file of one mebibyte is read; one byte more is refused unread.
TEST(RoutineFile, ReadsUpToOneMebibyte) {
    const QTemporaryDir dir;
    for (const qint64 size : {(1 << 20) - 1, 1 << 20, (1 << 20) + 1}) {
        QFile file(dir.filePath(QString::number(size)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) &&
                    file.write("0,1\n#" + QByteArray(size - 6, 'x') + '\n') == size);
        file.close();
        EXPECT_EQ(readRoutineFile(file.fileName()).error,
                  size <= (1 << 20)
                      ? QString()
                      : file.fileName() + ": too large for a routine file (1048577 bytes; at most 1048576)");
    }
}

} // namespace
