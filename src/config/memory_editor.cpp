#include "memory_editor.h"

#include "link/usb_link.h"
#include "protocol/codec.h"
#include "protocol/exchange.h"
#include "protocol/operation.h"
#include "protocol/session.h"
#include "protocol/text_field.h"

namespace valve::config {

const QString MemoryEditor::kReading = QStringLiteral("Reading EEPROM Data...");
const QString MemoryEditor::kReadOk = QStringLiteral("Read OK!");
const QString MemoryEditor::kWriting = QStringLiteral("Writing EEPROM Data...");
const QString MemoryEditor::kProgrammingOk = QStringLiteral("Programming OK!");
const QString MemoryEditor::kProgrammingError = QStringLiteral("Programming error!");
const QString MemoryEditor::kCommunicationError = QStringLiteral("Communication error");
const QString MemoryEditor::kDataErrorText = QStringLiteral("Data must be in 00-FF range");
const QString MemoryEditor::kDataErrorCaption = QStringLiteral("Data Error");

namespace {

QByteArray writeLine(const QString& text) {
    return QByteArray("W") + text.toLatin1() + protocol::kCarriageReturn;
}

} // namespace

MemoryEditor::MemoryEditor(QObject* parent) : QObject(parent) {}

MemoryEditor::~MemoryEditor() = default;

QString MemoryEditor::statusText(MemoryOutcome outcome) {
    switch (outcome) {
    case MemoryOutcome::Read:
        return kReadOk;
    case MemoryOutcome::Programmed:
        return kProgrammingOk;
    case MemoryOutcome::NoReply:
        return kCommunicationError;
    case MemoryOutcome::ReadBackDiffers:
        return kProgrammingError;
    case MemoryOutcome::EndedQuietly:
        break;
    }
    return {};
}

MemoryOutcome MemoryEditor::show(protocol::TextField& stat, MemoryOutcome outcome) {
    stat.setText(statusText(outcome));
    return outcome;
}

QString MemoryEditor::headingText(GridCell cell) {
    if (cell.column == 0) {
        return cell.row == 0 ? QStringLiteral("Addr") : QStringLiteral("Data");
    }
    if (cell.row == 0 && isDataColumn(cell.column)) {
        return QString::fromLatin1(protocol::byte2hex(addressOf(cell.column)));
    }
    return {};
}

const MemoryCell& MemoryEditor::cell(int column) const {
    return cells_.at(static_cast<std::size_t>(column)).cell;
}

MemoryEditor::CellState& MemoryEditor::state(int column) {
    return cells_.at(static_cast<std::size_t>(column));
}

void MemoryEditor::setCurrent(GridCell cell) {
    if (cell.row < 0 || cell.row > kDataRow || cell.column < 0 || cell.column >= kColumns ||
        cell == current_) {
        return;
    }
    current_ = cell;
    emit currentChanged(cell);
}

void MemoryEditor::setText(int column, const QString& text) {
    auto& cell = state(column).cell;
    if (cell.text != text) {
        cell.text = text;
        emit cellChanged(column);
    }
}

void MemoryEditor::setChanged(int column, bool changed) {
    auto& cell = state(column).cell;
    if (cell.changed != changed) {
        cell.changed = changed;
        emit cellChanged(column);
    }
}

void MemoryEditor::openEditor(int column) {
    if (!isDataColumn(column)) {
        return;
    }
    setCurrent({kDataRow, column});
    editor_column_ = column;
    emit editorOpened(column);
}

void MemoryEditor::cancelEdit() {
    closeEditor();
}

void MemoryEditor::closeEditor() {
    if (editor_column_) {
        editor_column_.reset();
        emit editorClosed();
    }
}

EditOutcome MemoryEditor::commitEdit(const QString& text) {
    if (!editor_column_) {
        return EditOutcome::NotOpen;
    }
    if (!isByteText(text)) {
        return EditOutcome::Rejected;
    }
    const int column = *editor_column_;
    closeEditor();
    ++state(column).edits;
    setChanged(column, true);
    setText(column, text);
    return EditOutcome::Stored;
}

QCoro::Task<MemoryOutcome> MemoryEditor::read(protocol::Session& session, protocol::TextField& stat) {
    const auto watch = lifetime_.watch();
    auto turn = co_await protocol::takeTurn(session, QStringLiteral("Memory Read"));
    if (!turn || !watch) {
        co_return MemoryOutcome::EndedQuietly;
    }
    stat.setText(kReading);
    for (int column = kFirstDataColumn; column <= kLastDataColumn; ++column) {
        setCurrent({kDataRow, column});
        setChanged(column, false);
        const unsigned editsBefore = state(column).edits;
        stat.setText(QString());
        const bool ok = co_await session.exchange.run(protocol::commandLine('G', addressOf(column)),
                                                      protocol::kValueReply);
        if (!goesOn(watch, session.link)) {
            co_return MemoryOutcome::EndedQuietly;
        }
        if (!ok) {
            co_return show(stat, MemoryOutcome::NoReply);
        }
        // An edit the operator stored meanwhile is newer than what was read.
        if (state(column).edits == editsBefore) {
            setText(column, QString::fromLatin1(session.exchange.reply_buf().digits()));
        }
    }
    co_return show(stat, MemoryOutcome::Read);
}

QCoro::Task<MemoryOutcome> MemoryEditor::write(protocol::Session& session, protocol::TextField& stat) {
    const auto watch = lifetime_.watch();
    auto turn = co_await protocol::takeTurn(session, QStringLiteral("Memory Write"));
    if (!turn || !watch) {
        co_return MemoryOutcome::EndedQuietly;
    }
    auto& exchange = session.exchange;
    stat.setText(kWriting);
    for (int column = kFirstDataColumn; column <= kLastDataColumn; ++column) {
        setCurrent({kDataRow, column});
        if (!cell(column).changed) {
            continue;
        }
        // What goes to the unit and is verified is the text as it stands now;
        // an edit stored while the exchanges run is not taken for written.
        const QString text = cell(column).text;
        const std::uint8_t address = addressOf(column);
        stat.setText(QString());
        bool ok = co_await exchange.run(protocol::commandLine('I', address), protocol::kAcknowledgement);
        if (!goesOn(watch, session.link)) {
            co_return MemoryOutcome::EndedQuietly;
        }
        if (ok) {
            ok = co_await exchange.run(writeLine(text), protocol::kAcknowledgement);
            if (!goesOn(watch, session.link)) {
                co_return MemoryOutcome::EndedQuietly;
            }
        }
        if (ok) {
            stat.setText(QString());
            ok = co_await exchange.run(protocol::commandLine('G', address), protocol::kValueReply);
            if (!goesOn(watch, session.link)) {
                co_return MemoryOutcome::EndedQuietly;
            }
        }
        if (!ok) {
            co_return show(stat, MemoryOutcome::NoReply);
        }
        if (exchange.reply_buf().digits() != text.toLatin1()) {
            co_return show(stat, MemoryOutcome::ReadBackDiffers);
        }
        if (cell(column).text == text) {
            setChanged(column, false);
        }
    }
    co_return show(stat, MemoryOutcome::Programmed);
}

} // namespace valve::config
