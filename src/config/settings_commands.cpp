#include "settings_commands.h"

#include "entry_conversion.h"
#include "link/usb_link.h"
#include "protocol/message_boxes.h"
#include "protocol/operation.h"
#include "protocol/session.h"
#include "protocol/text_field.h"
#include "record/event_log.h"

namespace valve::config {

using protocol::beginOperation;
using protocol::commandLine;
using protocol::exchangeOrReport;
using protocol::kAcknowledgement;
using protocol::kClockAddress;
using protocol::kTalkFailure;
using protocol::kValueReply;
using protocol::LinkCheck;
using protocol::Session;

namespace {

const QString kOpModeWarning =
    QStringLiteral("Warning - Changing the Operational Mode to an invalid number can cause") +
    QStringLiteral(" your unit to stop operating. Are you sure you want to change the Op. Mode?");

// The exchange of most settings: the line, one acknowledgement, and on
// success the line for the log. The caller holds the turn.
QCoro::Task<bool> sendSetting(Session& session, char code, std::uint8_t argument, QString successLine) {
    const bool acknowledged =
        co_await exchangeOrReport(session, commandLine(code, argument), kAcknowledgement, kTalkFailure);
    if (acknowledged) {
        session.log.show_msg(successLine);
    }
    co_return acknowledged;
}

// A whole operation that sends one setting, without a link check.
QCoro::Task<bool> runSetting(Session& session, QString label, char code, std::uint8_t argument,
                             QString successLine) {
    auto turn = co_await beginOperation(session, LinkCheck::No, std::move(label));
    if (!turn) {
        co_return false;
    }
    const bool took = co_await sendSetting(session, code, argument, std::move(successLine));
    co_return took;
}

} // namespace

QCoro::Task<bool> set_clock(Session& session, std::optional<std::uint8_t> clock_val) {
    if (!clock_val) {
        co_await session.boxes.message_box(kPickClockFirst);
        co_return false;
    }
    // Select the clock byte, write it and read it back, in one turn so that no
    // other command can come between the three.
    auto turn = co_await beginOperation(session, LinkCheck::No, QStringLiteral("Set Clock"));
    if (!turn) {
        co_return false;
    }
    const bool selected =
        co_await exchangeOrReport(session, commandLine('I', kClockAddress), kAcknowledgement, kTalkFailure);
    if (!selected) {
        co_return false;
    }
    const bool written =
        co_await exchangeOrReport(session, commandLine('W', *clock_val), kAcknowledgement, kTalkFailure);
    if (!written) {
        co_return false;
    }
    const bool readBack =
        co_await exchangeOrReport(session, commandLine('G', kClockAddress), kValueReply, kTalkFailure);
    if (!readBack) {
        co_return false;
    }
    const bool stored = session.exchange.reply_buf().value() == *clock_val;
    session.log.show_msg(stored ? QStringLiteral("Clock speed changed!")
                                : QStringLiteral("Programming error!"));
    co_return stored;
}

QCoro::Task<bool> set_baud_rate(Session& session, std::optional<std::uint8_t> baud_val) {
    if (!baud_val) {
        co_await session.boxes.message_box(kPickBaudRateFirst);
        co_return false;
    }
    const bool took = co_await runSetting(session, QStringLiteral("Set baud rate"), 'X', *baud_val,
                                          QStringLiteral("Baud rate changed"));
    co_return took;
}

QCoro::Task<bool> set_cmd_mode(Session& session, std::optional<std::uint8_t> cmd_mode_val) {
    if (!cmd_mode_val) {
        co_await session.boxes.message_box(kPickCmdModeFirst);
        co_return false;
    }
    const bool took = co_await runSetting(session, QStringLiteral("Set Cmd Mode"), 'F', *cmd_mode_val,
                                          QStringLiteral("Command mode changed to %1").arg(*cmd_mode_val));
    co_return took;
}

QCoro::Task<bool> set_command_mode_by_name(Session& session, const ListSelection& lstControl) {
    auto turn = co_await beginOperation(session, LinkCheck::Yes, QStringLiteral("Set Command Mode"));
    if (!turn) {
        co_return false;
    }
    const QString name = lstControl.selectedText();
    const auto code = protocol::commandModeCode(name);
    if (!code) {
        turn = {}; // the box does not hold up other commands
        co_await session.boxes.message_box(QStringLiteral("Invalid Command Mode"));
        co_return false;
    }
    const bool took = co_await sendSetting(session, 'F', *code,
                                           QStringLiteral("Control method changed to ") + name +
                                               QStringLiteral(". Cycle power to complete change."));
    co_return took;
}

QCoro::Task<bool> set_port_position(Session& session, protocol::Port port, const protocol::TextField& entry) {
    const QString text = entry.text();
    const auto value = decimalEntry(text);
    if (!value) {
        co_await session.boxes.message_box(kDecimalRange);
        co_return false;
    }
    const char letter = protocol::portLetter(port);
    const bool took =
        co_await runSetting(session, QStringLiteral("Set Pos %1 Port").arg(QChar::fromLatin1(letter)), letter,
                            *value, QStringLiteral("Port %1 changed").arg(QChar::fromLatin1(letter)));
    co_return took;
}

QCoro::Task<bool> set_op_mode(Session& session, const protocol::TextField& txt_set_op_mode) {
    {
        // The link is checked before the operator is asked; the question itself
        // does not hold up other commands.
        auto turn =
            co_await beginOperation(session, LinkCheck::Yes, QStringLiteral("Set Op Mode (link check)"));
        if (!turn) {
            co_return false;
        }
    }
    const protocol::BoxAnswer answer =
        co_await session.boxes.message_box(kOpModeWarning, protocol::BoxButtons::OkCancel);
    if (session.link.is_shut_down()) {
        co_return false; // the program closed while the question was up: the command ends quietly
    }
    if (answer != protocol::BoxAnswer::Ok) {
        co_await session.boxes.message_box(QStringLiteral("Operational Mode will NOT be changed."));
        co_return false;
    }
    const QString text = txt_set_op_mode.text();
    if (text.isEmpty()) {
        protocol::logAfterTurn(session, QStringLiteral("Op Mode not changed - Select Valid Configuration"));
        co_return false;
    }
    const auto value = decimalEntry(text);
    if (!value) {
        co_await session.boxes.message_box(kDecimalRange);
        co_return false;
    }
    const bool took =
        co_await runSetting(session, QStringLiteral("Set Op Mode"), 'O', *value,
                            QStringLiteral("Op Mode changed to ") + text +
                                QStringLiteral(". Cycle power to complete configuration change."));
    co_return took;
}

QCoro::Task<bool> set_i2c_address(Session& session, const protocol::TextField& txt_set_i2c_address) {
    auto turn = co_await beginOperation(session, LinkCheck::Yes, QStringLiteral("Set HEX I2C address"));
    if (!turn) {
        co_return false;
    }
    const QString text = txt_set_i2c_address.text();
    const auto value = hexEntry(text);
    if (!value) {
        turn = {};
        co_await session.boxes.message_box(kHexRange);
        co_return false;
    }
    const bool took =
        co_await sendSetting(session, 'N', *value, QStringLiteral("I2C address changed to ") + text);
    co_return took;
}

} // namespace valve::config
