#include "query_commands.h"

#include "link/usb_link.h"
#include "message_boxes.h"
#include "operation.h"
#include "record/event_log.h"
#include "session.h"
#include "text_field.h"

#include <array>

namespace valve::protocol {

namespace {

// Runs one value query as a whole operation; the reply value, or nothing when
// the reply did not come (the failure line is logged by then).
QCoro::Task<std::optional<int>> query(Session& session, LinkCheck check, QString label, QByteArray line,
                                      QString failureLine = kTalkFailure) {
    auto turn = co_await beginOperation(session, check, std::move(label));
    if (!turn) {
        co_return std::nullopt;
    }
    const bool complete =
        co_await exchangeOrReport(session, std::move(line), kValueReply, std::move(failureLine));
    if (!complete) {
        co_return std::nullopt;
    }
    co_return session.exchange.reply_buf().value();
}

struct NamedError {
    int code;
    const char* line;
};

constexpr std::array<NamedError, 6> kNamedErrors{{
    {44, "Last error: code 44 - a Check Sum Error"},
    {55, "Last error: code 55 - Data Integrity Error"},
    {66, "Last error: code 66 - a Valve Positioning Error"},
    {77, "Last error: code 77 - a Configuration or Command Mode Error"},
    {88, "Last error: code 88 - a Non-Volatile Memory Error"},
    {99, "Last error: code 99 - a Valve Homing Error"},
}};

// A query whose reply value the box shows as a decimal number.
QCoro::Task<std::optional<int>> showValue(Session& session, LinkCheck check, QString label, char code,
                                          TextField& box) {
    const auto value = co_await query(session, check, std::move(label), commandLine(code));
    if (value) {
        box.setText(QString::number(*value));
    }
    co_return value;
}

} // namespace

std::optional<QString> namedErrorLine(int code) {
    for (const NamedError& error : kNamedErrors) {
        if (error.code == code) {
            return QString::fromLatin1(error.line);
        }
    }
    return std::nullopt;
}

QCoro::Task<std::optional<int>> read_status(Session& session, TextField& txt_status) {
    const auto value =
        co_await showValue(session, LinkCheck::Yes, QStringLiteral("Read Status"), 'S', txt_status);
    if (value) {
        session.positions.report(*value);
    }
    co_return value;
}

QCoro::Task<std::optional<int>> read_error(Session& session, TextField& txt_error) {
    const auto value =
        co_await query(session, LinkCheck::Yes, QStringLiteral("Read Error"), commandLine('E'));
    if (!value) {
        co_return value;
    }
    if (const auto line = namedErrorLine(*value)) {
        txt_error.setText(QString::number(*value));
        logAfterTurn(session, *line);
    }
    co_return value;
}

QCoro::Task<std::optional<int>> read_control_method(Session& session, TextField& txt_control) {
    const auto value =
        co_await query(session, LinkCheck::Yes, QStringLiteral("Read Command Mode"), commandLine('D'),
                       QStringLiteral("USB Error - could not read control method."));
    if (!value) {
        co_return value;
    }
    const QString name = commandModeName(*value);
    txt_control.setText(name);
    if (name.isEmpty()) {
        co_await session.boxes.message_box(QStringLiteral("Invalid Command Mode"));
        co_return std::nullopt;
    }
    co_return value;
}

QCoro::Task<std::optional<int>> read_firmware_revision(Session& session, TextField& txt_fw_rev) {
    const auto value =
        co_await query(session, LinkCheck::Yes, QStringLiteral("Read Firmware Revision"), commandLine('R'));
    if (value) {
        // The reply value is the character code of the revision letter.
        const QChar letter(static_cast<char16_t>(*value));
        txt_fw_rev.setText(QStringLiteral("Rev.") + letter + QStringLiteral(" Nerra"));
    }
    co_return value;
}

QCoro::Task<std::optional<int>> read_op_mode(Session& session, TextField& txt_op_mode) {
    return showValue(session, LinkCheck::Yes, QStringLiteral("Read Op Mode"), 'Q', txt_op_mode);
}

QCoro::Task<std::optional<int>> read_cmd_mode(Session& session, TextField& txt_cmd_mode) {
    const auto value =
        co_await query(session, LinkCheck::No, QStringLiteral("Read Cmd Mode"), commandLine('D'));
    if (value) {
        const QString name = commandModeName(*value);
        txt_cmd_mode.setText(name.isEmpty() ? QStringLiteral("Error") : name);
    }
    co_return value;
}

QCoro::Task<std::optional<int>> read_clock(Session& session, TextField& txt_clock) {
    const auto value =
        co_await query(session, LinkCheck::No, QStringLiteral("Read Clock"), commandLine('G', kClockAddress));
    if (value) {
        txt_clock.setText(QStringLiteral(" %1 MHz").arg(*value));
    }
    co_return value;
}

QCoro::Task<std::optional<int>> read_port_position(Session& session, Port port, TextField& txt_pos) {
    // Ports A, B and C are read with the codes "1", "2" and "3".
    const char code = static_cast<char>('1' + (portLetter(port) - 'A'));
    return showValue(session, LinkCheck::No,
                     QStringLiteral("Read Pos %1 Port").arg(QChar::fromLatin1(portLetter(port))), code,
                     txt_pos);
}

} // namespace valve::protocol
