// The memory editor beyond what the fault matrix makes of their buttons and texts.
#include "command_bench.h"
#include "config/memory_editor.h"
#include "protocol/text_field.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using namespace valve::config;
using valve::protocol::StoredText;
using namespace valve::testing;

namespace {

constexpr int kColumnOf0x12 = 3;
constexpr int kColumnOf0x1A = 11;

// The editor on a unit with real line timing: every exchange waits in the event loop.
class MemoryEditorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bench.connected); }
    void edit(int column, const QString& text) {
        editor.openEditor(column);
        ASSERT_EQ(editor.commitEdit(text), EditOutcome::Stored);
    }
    // Calls `action` once from the event loop once an operation made `column` current.
    void duringCell(int column, std::function<void()> action) {
        QObject::connect(&editor, &MemoryEditor::currentChanged, &editor,
                         [column, action, fired = std::make_shared<bool>(false)](GridCell cell) {
                             if (cell.column == column && !std::exchange(*fired, true)) {
                                 QTimer::singleShot(0, action);
                             }
                         });
    }

    CommandBench bench{valve::sim::UnitTiming{}};
    MemoryEditor editor;
    StoredText stat;
};

// Two upper-case hex digits are stored (the window upper-cases as typed); the editor stays open on the rest.
TEST(MemoryEditorGrid, ACellTakesTwoUpperCaseHexadecimalDigits) {
    MemoryEditor editor;
    editor.openEditor(4);
    for (const char* bad : {"", "5", "A5F", "G1", " 5", "5 ", "a5", "0x"}) {
        EXPECT_EQ(editor.commitEdit(QString::fromLatin1(bad)), EditOutcome::Rejected) << bad;
    }
    for (const char* good : {"00", "FF", "9C"}) {
        editor.openEditor(4);
        EXPECT_EQ(editor.commitEdit(QString::fromLatin1(good)), EditOutcome::Stored) << good;
    }
}

TEST_F(MemoryEditorTest, ReadClearsTheMarksOfTheCellsItReaches) {
    edit(6, "66");
    edit(7, "77");
    for (const char* reply : {"C0\r", "C0\r", "C0\r", "C0\r", "C0\r", ""}) { // cell 6 gets no answer
        bench.unit().scriptReply(reply, 'G');
    }
    EXPECT_EQ(await(editor.read(*bench.session, stat)), MemoryOutcome::NoReply);
    EXPECT_EQ(std::tuple(editor.cell(6).text, editor.cell(6).changed), std::tuple("66", false));
    EXPECT_TRUE(editor.cell(7).changed); // not reached

    EXPECT_EQ(await(editor.read(*bench.session, stat)), MemoryOutcome::Read);
    EXPECT_FALSE(editor.cell(7).changed);
    EXPECT_EQ(editor.current(), (GridCell{1, 16}));
}

TEST_F(MemoryEditorTest, WriteSendsOnlyTheMarkedCellsAndStopsAtAReadBackThatDiffers) {
    EXPECT_EQ(await(editor.write(*bench.session, stat)), MemoryOutcome::Programmed); // none marked, none sent
    edit(kColumnOf0x1A, "3C");
    edit(kColumnOf0x12, "A5");
    bench.unit().scriptReply("a5\r", 'G'); // lower case is not the text that was sent
    EXPECT_EQ(await(editor.write(*bench.session, stat)), MemoryOutcome::ReadBackDiffers);
    EXPECT_TRUE(editor.cell(kColumnOf0x12).changed && editor.cell(kColumnOf0x1A).changed);
    EXPECT_EQ(await(editor.write(*bench.session, stat)), MemoryOutcome::Programmed);
    EXPECT_EQ(bench.sent(), (QList<QByteArray>{"I12\r", "WA5\r", "G12\r", "I12\r", "WA5\r", "G12\r", "I1A\r",
                                               "W3C\r", "G1A\r"}));
    EXPECT_FALSE(editor.cell(kColumnOf0x12).changed || editor.cell(kColumnOf0x1A).changed);
}

TEST_F(MemoryEditorTest, EnterDuringReadStoresIntoTheEditedCellAndIsNotOverwritten) {
    // The editor open on another cell, and on the very cell being read when Enter comes.
    for (const int edited : {4, 10}) {
        SCOPED_TRACE(edited);
        editor.openEditor(edited);
        duringCell(10, [this] { EXPECT_EQ(editor.commitEdit("77"), EditOutcome::Stored); });
        EXPECT_EQ(await(editor.read(*bench.session, stat)), MemoryOutcome::Read);
        EXPECT_EQ(std::tuple(editor.cell(edited).text, editor.cell(edited).changed), std::tuple("77", true));
        const auto& next = editor.cell(edited + 1); // read as usual
        EXPECT_EQ(std::tuple(next.text, next.changed), std::tuple("00", false));
    }
}

TEST_F(MemoryEditorTest, EditDuringWriteOfItsCellIsNotTakenForWritten) {
    edit(kColumnOf0x12, "A5");
    edit(kColumnOf0x1A, "3C");
    editor.openEditor(kColumnOf0x12);
    duringCell(kColumnOf0x12, [this] { EXPECT_EQ(editor.commitEdit("5A"), EditOutcome::Stored); });
    // What was sent is what was verified; the newer edit waits for the next Write.
    EXPECT_EQ(await(editor.write(*bench.session, stat)), MemoryOutcome::Programmed);
    EXPECT_EQ(std::tuple(bench.unit().state().memory[0x12], editor.cell(kColumnOf0x12).text,
                         editor.cell(kColumnOf0x12).changed, editor.cell(kColumnOf0x1A).changed),
              std::tuple(0xA5, "5A", true, false));
    await(editor.write(*bench.session, stat));
    EXPECT_EQ(bench.unit().state().memory[0x12], 0x5A);
}

} // namespace
