#include "error_stack.h"

#include "link/usb_link.h"
#include "protocol/codec.h"
#include "protocol/exchange.h"
#include "protocol/operation.h"
#include "protocol/session.h"
#include "protocol/text_field.h"

namespace valve::config {

const QString ErrorStack::kReading = QStringLiteral("Reading error stack...");
const QString ErrorStack::kClearing = QStringLiteral("Clearing error stack...");

QCoro::Task<ErrorStack::Read> ErrorStack::read(protocol::Session& session, protocol::TextField& stat) {
    const auto watch = lifetime_.watch();
    auto turn = co_await protocol::takeTurn(session, QStringLiteral("Read Error Stack"));
    Read read;
    if (!turn || !watch) {
        co_return read;
    }
    stat.setText(kReading);
    for (int entry = 0; entry < kEntries; ++entry) {
        protocol::TextField& box = *boxes_.at(static_cast<std::size_t>(entry));
        box.setText(QString());
        stat.setText(QString());
        const bool ok = co_await session.exchange.run(protocol::commandLine('G', addressOf(entry)),
                                                      protocol::kValueReply);
        if (!goesOn(watch, session.link)) {
            co_return read;
        }
        if (!ok) {
            read.outcome = MemoryEditor::show(stat, MemoryOutcome::NoReply);
            co_return read;
        }
        const auto value = static_cast<std::uint8_t>(session.exchange.reply_buf().value());
        read.entries.at(static_cast<std::size_t>(entry)) = value;
        box.setText(QString::number(value));
    }
    read.outcome = MemoryEditor::show(stat, MemoryOutcome::Read);
    co_return read;
}

QCoro::Task<MemoryOutcome> ErrorStack::clear(protocol::Session& session, protocol::TextField& stat) {
    const auto watch = lifetime_.watch();
    auto turn = co_await protocol::takeTurn(session, QStringLiteral("Clear Error Stack"));
    if (!turn || !watch) {
        co_return MemoryOutcome::EndedQuietly;
    }
    auto& exchange = session.exchange;
    stat.setText(kClearing);
    for (int entry = 0; entry < kEntries; ++entry) {
        const std::uint8_t address = addressOf(entry);
        // Select, write 0, read back: each step only when the one before was answered.
        const std::array<std::pair<QByteArray, int>, 3> steps{{
            {protocol::commandLine('I', address), protocol::kAcknowledgement},
            {protocol::commandLine('W', 0), protocol::kAcknowledgement},
            {protocol::commandLine('G', address), protocol::kValueReply},
        }};
        for (const auto& [line, replyLength] : steps) {
            stat.setText(QString());
            const bool ok = co_await exchange.run(line, replyLength);
            if (!goesOn(watch, session.link)) {
                co_return MemoryOutcome::EndedQuietly;
            }
            if (!ok) {
                co_return MemoryEditor::show(stat, MemoryOutcome::NoReply);
            }
        }
        if (exchange.reply_buf().digits() != QByteArrayLiteral("00")) {
            co_return MemoryEditor::show(stat, MemoryOutcome::ReadBackDiffers);
        }
    }
    co_return MemoryEditor::show(stat, MemoryOutcome::Programmed);
}

} // namespace valve::config
