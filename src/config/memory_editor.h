#pragma once

#include "operation_lifetime.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::protocol {
class TextField;
struct Session;
} // namespace valve::protocol

namespace valve::config {

// A cell of the memory grid: row 0 and column 0 are headings, the data cells
// are row 1, columns 1 to 16.
struct GridCell {
    int row = 0;
    int column = 0;
    friend bool operator==(const GridCell&, const GridCell&) = default;
};

// One data cell: the byte as text (as the unit sent it after a read, two
// upper-case hex digits after an edit) and whether it waits to be written.
struct MemoryCell {
    QString text;
    bool changed = false;
};

// What Enter in the cell editor did.
enum class EditOutcome { Stored, Rejected, NotOpen };

// How an operation on the unit's memory ended: a Read or Write of the editor,
// a read or clear of the error stack. The status box shows the text of each
// (MemoryEditor::statusText) but the last.
enum class MemoryOutcome {
    Read,            // every byte was read
    Programmed,      // every byte was written and read back unchanged
    NoReply,         // a reply did not come
    ReadBackDiffers, // a byte read back is not the one written
    EndedQuietly,    // the window closed or the program is closing
};

// The memory editor behind the grid of the Custom Configuration window: the
// sixteen bytes at 0x10..0x1F, the current cell, the cell editor and the Read
// and Write operations. Widget-free; the window mirrors it through the signals.
//
// The cell editor is bound to the cell it was opened on: Read and Write move
// the current cell while they run, and a later Enter still stores into the
// editor's own cell.
class MemoryEditor : public QObject {
    Q_OBJECT
public:
    static constexpr int kColumns = 17;
    static constexpr int kFirstDataColumn = 1;
    static constexpr int kLastDataColumn = 16;
    static constexpr int kDataRow = 1;
    static constexpr std::uint8_t kAddressBeforeFirst = 0x0F;

    static const QString kReading;
    static const QString kReadOk;
    static const QString kWriting;
    static const QString kProgrammingOk;
    static const QString kProgrammingError;
    static const QString kCommunicationError;
    static const QString kDataErrorText;
    static const QString kDataErrorCaption;

    explicit MemoryEditor(QObject* parent = nullptr);
    ~MemoryEditor() override;

    [[nodiscard]] static bool isDataColumn(int column) {
        return column >= kFirstDataColumn && column <= kLastDataColumn;
    }
    [[nodiscard]] static std::uint8_t addressOf(int column) {
        return static_cast<std::uint8_t>(kAddressBeforeFirst + column);
    }
    // "Read OK!", "Programming OK!", "Communication error" or "Programming
    // error!"; empty for an operation that ended quietly.
    [[nodiscard]] static QString statusText(MemoryOutcome outcome);
    // Shows in `stat` how an operation that did not end quietly ended, and
    // passes the outcome on.
    static MemoryOutcome show(protocol::TextField& stat, MemoryOutcome outcome);

    // The fixed text of a heading cell: "Addr", "Data", "10".."1F"; empty for a data cell.
    [[nodiscard]] static QString headingText(GridCell cell);
    // Exactly two characters, each 0-9 or A-F (upper case only).
    [[nodiscard]] static bool isByteText(const QString& text) {
        const auto hexDigit = [](QChar c) {
            return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                   (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        };
        return text.size() == 2 && hexDigit(text[0]) && hexDigit(text[1]);
    }

    [[nodiscard]] const MemoryCell& cell(int column) const;
    [[nodiscard]] GridCell current() const { return current_; }
    void setCurrent(GridCell cell);

    // --- the cell editor ---

    // A click on a data cell: makes it current and binds the editor to it
    // (dropping whatever was typed for another cell). Other cells are ignored.
    void openEditor(int column);
    // Escape: the editor closes, the cell keeps its text and mark.
    void cancelEdit();
    // Enter with the editor's text, already upper-cased by the caller: stores
    // and marks the editor's own cell and closes the editor, or leaves
    // everything as it is when the text is not a byte.
    EditOutcome commitEdit(const QString& text);
    [[nodiscard]] std::optional<int> editorColumn() const { return editor_column_; }

    // --- operations on the unit, each one whole operation on the link ---

    // Reads all sixteen bytes, clearing the marks, reporting in `stat`.
    QCoro::Task<MemoryOutcome> read(protocol::Session& session, protocol::TextField& stat);
    // Writes every marked byte with select, write and read-back.
    QCoro::Task<MemoryOutcome> write(protocol::Session& session, protocol::TextField& stat);

    // The window closes: running operations end quietly at their next step.
    void endOperations() { lifetime_.end(); }

signals:
    void cellChanged(int column);
    void currentChanged(valve::config::GridCell cell);
    void editorOpened(int column);
    void editorClosed();

private:
    struct CellState {
        MemoryCell cell;
        // Counts the operator's stores, so an operation can tell that the
        // operator edited the cell while it was talking to the unit.
        unsigned edits = 0;
    };

    CellState& state(int column);
    void setText(int column, const QString& text);
    void setChanged(int column, bool changed);
    void closeEditor();

    std::array<CellState, kLastDataColumn + 1> cells_{}; // index 0 unused
    GridCell current_{0, 0};
    std::optional<int> editor_column_;
    OperationLifetime lifetime_;
};

} // namespace valve::config
