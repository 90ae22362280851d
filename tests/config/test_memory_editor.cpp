#include "command_bench.h"
#include "config/memory_editor.h"
#include "protocol/text_field.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;
using valve::config::EditOutcome;
using valve::config::GridCell;
using valve::config::MemoryEditor;
using valve::protocol::StoredText;
using valve::testing::await;
using valve::testing::CommandBench;
using valve::testing::runUntil;
using valve::testing::start;

namespace {

constexpr int kColumnOf0x12 = 3;
constexpr int kColumnOf0x1A = 11;

class MemoryEditorTest : public ::testing::Test {
protected:
    explicit MemoryEditorTest(valve::sim::UnitTiming timing = valve::sim::UnitTiming::instant())
        : bench(timing) {}
    void SetUp() override {
        ASSERT_TRUE(bench.connected);
        for (int i = 0; i < 16; ++i) {
            memory()[0x10 + i] = static_cast<std::uint8_t>(0xB0 + i);
        }
    }

    std::array<std::uint8_t, 256>& memory() { return bench.unit().state().memory; }
    void edit(int column, const QString& text) {
        editor->openEditor(column);
        ASSERT_EQ(editor->commitEdit(text), EditOutcome::Stored);
    }
    QStringList texts() const {
        QStringList all;
        for (int column = 1; column <= 16; ++column) {
            all << editor->cell(column).text;
        }
        return all;
    }
    int markedCount() const {
        int count = 0;
        for (int column = 1; column <= 16; ++column) {
            count += editor->cell(column).changed;
        }
        return count;
    }
    // Calls `action` once from the event loop once an operation made `column` current.
    void duringCell(int column, std::function<void()> action) {
        auto fired = std::make_shared<bool>(false);
        QObject::connect(editor.get(), &MemoryEditor::currentChanged, editor.get(),
                         [column, action, fired](GridCell cell) {
                             if (cell.column == column && !std::exchange(*fired, true)) {
                                 QTimer::singleShot(0, action);
                             }
                         });
    }
    qsizetype writes() const { return bench.driver.callTexts().filter("FT_Write").size(); }

    CommandBench bench;
    std::unique_ptr<MemoryEditor> editor = std::make_unique<MemoryEditor>();
    StoredText stat;
};

class MemoryEditorTimedTest : public MemoryEditorTest {
protected:
    // Real wire timing: every exchange waits in the event loop.
    MemoryEditorTimedTest() : MemoryEditorTest(valve::sim::UnitTiming{}) {}
};

TEST(MemoryEditorGrid, HeadingsAddressesAndByteTexts) {
    EXPECT_EQ(MemoryEditor::headingText({0, 0}), "Addr");
    EXPECT_EQ(MemoryEditor::headingText({1, 0}), "Data");
    EXPECT_EQ(MemoryEditor::headingText({0, 11}), "1A");
    for (const char* good : {"00", "A5", "FF", "9C"}) {
        EXPECT_TRUE(MemoryEditor::isByteText(QString::fromLatin1(good))) << good;
    }
    // Lower case is upper-cased by the window as it is typed, so "a5" is refused here.
    for (const char* bad : {"", "5", "A5F", "G1", " 5", "5 ", "a5", "0x"}) {
        EXPECT_FALSE(MemoryEditor::isByteText(QString::fromLatin1(bad))) << bad;
    }
}

TEST(MemoryEditorGrid, EditorStoresIntoItsOwnCellOrStaysOpen) {
    MemoryEditor editor;
    EXPECT_EQ(editor.commitEdit("A5"), EditOutcome::NotOpen);

    editor.openEditor(0); // the "Data" heading: nothing to edit
    EXPECT_FALSE(editor.editorColumn());
    editor.openEditor(4);
    EXPECT_EQ(editor.current(), (GridCell{1, 4}));
    EXPECT_EQ(editor.commitEdit("5"), EditOutcome::Rejected);
    EXPECT_EQ(editor.editorColumn(), 4);
    EXPECT_FALSE(editor.cell(4).changed);

    EXPECT_EQ(editor.commitEdit("A5"), EditOutcome::Stored);
    EXPECT_EQ(editor.cell(4).text, "A5");
    EXPECT_TRUE(editor.cell(4).changed);
    EXPECT_FALSE(editor.editorColumn());

    editor.openEditor(4); // Escape

    editor.cancelEdit();
    EXPECT_FALSE(editor.editorColumn());
    EXPECT_EQ(editor.cell(4).text, "A5");
    EXPECT_TRUE(editor.cell(4).changed);

    // Moving the current cell does not move the editor.
    editor.openEditor(2);
    editor.setCurrent({1, 9});
    EXPECT_EQ(editor.commitEdit("3C"), EditOutcome::Stored);
    EXPECT_EQ(editor.cell(2).text, "3C");
    EXPECT_EQ(editor.cell(9).text, "");
}

TEST_F(MemoryEditorTest, ReadFetchesAllSixteenInOrderAndClearsMarks) {
    edit(2, "11");
    edit(16, "22");
    await(editor->read(*bench.session, stat));

    QList<QByteArray> expected;
    QStringList values;
    for (int address = 0x10; address <= 0x1F; ++address) {
        expected << "G" + QByteArray::number(address, 16).toUpper() + "\r";
        values << QString::number(0xA0 + address, 16).toUpper();
    }
    EXPECT_EQ(bench.sent(), expected);
    EXPECT_EQ(texts(), values);
    EXPECT_EQ(markedCount(), 0);
    EXPECT_EQ(stat.text(), "Read OK!");
    EXPECT_EQ(editor->current(), (GridCell{1, 16}));
    EXPECT_TRUE(bench.logLines().isEmpty());
}

TEST_F(MemoryEditorTest, ReadKeepsRepliesAsTheyCameAndStopsAtTheFirstMissingOne) {
    edit(6, "66");
    edit(7, "77");
    for (const char* reply : {"a5\r", "?x\r", "C0\r", "C0\r", "C0\r", ""}) { // cell 6 gets no answer
        bench.unit().scriptReply(reply, 'G');
    }
    await(editor->read(*bench.session, stat));

    EXPECT_EQ(stat.text(), "Communication error");
    EXPECT_EQ(bench.sent().size(), 6);
    EXPECT_EQ(texts().mid(0, 5), (QStringList{"a5", "?x", "C0", "C0", "C0"}));
    EXPECT_EQ(editor->cell(6).text, "66"); // old text, mark cleared
    EXPECT_FALSE(editor->cell(6).changed);
    EXPECT_EQ(editor->cell(7).text, "77"); // not reached
    EXPECT_TRUE(editor->cell(7).changed);
}

TEST_F(MemoryEditorTest, WriteSendsOnlyMarkedCellsWithReadBack) {
    edit(kColumnOf0x1A, "3C");
    edit(kColumnOf0x12, "A5");
    await(editor->write(*bench.session, stat));

    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"I12\r", "WA5\r", "G12\r", "I1A\r", "W3C\r", "G1A\r"}));
    EXPECT_EQ(memory()[0x12], 0xA5);
    EXPECT_EQ(memory()[0x1A], 0x3C);
    EXPECT_EQ(memory()[0x13], 0xB3);
    EXPECT_EQ(markedCount(), 0);
    EXPECT_EQ(stat.text(), "Programming OK!");
    EXPECT_TRUE(bench.logLines().isEmpty());

    // Nothing marked: nothing sent, success at once.
    bench.wire().clear();
    stat.setText("x");
    await(editor->write(*bench.session, stat));
    EXPECT_TRUE(bench.sent().isEmpty());
    EXPECT_EQ(stat.text(), "Programming OK!");
}

TEST_F(MemoryEditorTest, WriteStopsAtTheFirstFailureAndKeepsTheMarks) {
    edit(kColumnOf0x12, "A5");
    edit(kColumnOf0x1A, "3C");
    const struct {
        const char* reply; // scripted for the next request of its kind
        char to;
        const char* stat;
        QList<QByteArray> sent;
    } cases[] = {
        {"a5\r", 'G', "Programming error!", {"I12\r", "WA5\r", "G12\r"}}, // lower case does not match
        {"", 'W', "Communication error", {"I12\r", "WA5\r"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stat);
        bench.wire().clear();
        bench.unit().scriptReply(c.reply, c.to);
        await(editor->write(*bench.session, stat));
        EXPECT_EQ(stat.text(), c.stat);
        EXPECT_EQ(bench.sent(), c.sent);
        EXPECT_EQ(markedCount(), 2);
        EXPECT_EQ(memory()[0x1A], 0xB0 + 10) << "the second cell is not reached";
    }
}

TEST_F(MemoryEditorTimedTest, OperationsStartedTogetherRunOneAfterTheOther) {
    edit(kColumnOf0x12, "A5");
    edit(kColumnOf0x1A, "3C");
    const auto written = start(editor->write(*bench.session, stat));
    StoredText otherStat;
    MemoryEditor other;
    const auto read = start(other.read(*bench.session, otherStat));
    ASSERT_TRUE(runUntil([&] { return *written && *read; }));

    const QList<QByteArray> lines = bench.sent();
    ASSERT_EQ(lines.size(), 6 + 16);
    EXPECT_EQ(lines.mid(0, 6), (QList<QByteArray>{"I12\r", "WA5\r", "G12\r", "I1A\r", "W3C\r", "G1A\r"}));
    EXPECT_FALSE(bench.wire().interleaved());
    EXPECT_EQ(other.cell(kColumnOf0x12).text, "A5"); // the read came after the write
}

TEST_F(MemoryEditorTimedTest, EnterDuringReadStoresIntoTheEditedCellAndIsNotOverwritten) {
    // The editor open on another cell, and on the very cell being read when Enter comes.
    for (const int edited : {4, 10}) {
        SCOPED_TRACE(edited);
        editor->openEditor(edited);
        duringCell(10, [this] { EXPECT_EQ(editor->commitEdit("77"), EditOutcome::Stored); });
        await(editor->read(*bench.session, stat));
        EXPECT_EQ(stat.text(), "Read OK!");
        EXPECT_EQ(editor->cell(edited).text, "77");
        EXPECT_TRUE(editor->cell(edited).changed);
        EXPECT_EQ(editor->cell(edited + 1).text, QString::number(0xB0 + edited, 16).toUpper());
        EXPECT_FALSE(editor->cell(edited + 1).changed);
    }
}

TEST_F(MemoryEditorTimedTest, EditDuringWriteOfItsCellIsNotTakenForWritten) {
    edit(kColumnOf0x12, "A5");
    edit(kColumnOf0x1A, "3C");
    editor->openEditor(kColumnOf0x12);
    duringCell(kColumnOf0x12, [this] { EXPECT_EQ(editor->commitEdit("5A"), EditOutcome::Stored); });
    await(editor->write(*bench.session, stat));

    // What was sent is what was verified; the newer edit waits for the next Write.
    EXPECT_EQ(stat.text(), "Programming OK!");
    EXPECT_EQ(memory()[0x12], 0xA5);
    EXPECT_EQ(editor->cell(kColumnOf0x12).text, "5A");
    EXPECT_EQ(markedCount(), 1);

    await(editor->write(*bench.session, stat));
    EXPECT_EQ(memory()[0x12], 0x5A);
}

struct Ending {
    const char* what;
    bool write;
    int atColumn; // ended while this cell is talked about
    void (*end)(std::unique_ptr<MemoryEditor>&, CommandBench&);
    int writesSent; // the request under way when it ended is the last
};

void PrintTo(const Ending& ending, std::ostream* os) {
    *os << ending.what;
}

class MemoryEditorEnding : public MemoryEditorTimedTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(MemoryEditorEnding, EndsTheOperationQuietly) {
    SCOPED_TRACE(GetParam().what);
    edit(kColumnOf0x12, "A5");
    edit(kColumnOf0x1A, "3C");
    duringCell(GetParam().atColumn, [this] { GetParam().end(editor, bench); });
    const auto done =
        start(GetParam().write ? editor->write(*bench.session, stat) : editor->read(*bench.session, stat));
    ASSERT_TRUE(runUntil([&] { return *done; }));

    EXPECT_EQ(writes(), GetParam().writesSent);
    EXPECT_EQ(stat.text(), ""); // not "Communication error"
    EXPECT_FALSE(bench.link->operations().busy());
}

INSTANTIATE_TEST_SUITE_P(
    ClosingOrShutDown, MemoryEditorEnding,
    ::testing::Values(Ending{"window closed during read", false, 4,
                             [](std::unique_ptr<MemoryEditor>& e, CommandBench&) { e->endOperations(); }, 4},
                      Ending{"editor destroyed during write", true, kColumnOf0x12,
                             [](std::unique_ptr<MemoryEditor>& e, CommandBench&) { e.reset(); }, 1},
                      Ending{"link shut down during read", false, 3,
                             [](std::unique_ptr<MemoryEditor>&, CommandBench& b) { b.link->shut_down(); },
                             3}));

} // namespace
