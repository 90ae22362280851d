#pragma once

#include "protocol/unit_terms.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::protocol {
class TextField;
struct Session;
} // namespace valve::protocol

namespace valve::config {

// The selected entry of a list box, as the settings logic sees it.
class ListSelection {
public:
    virtual ~ListSelection() = default;
    // The text of the selected entry; empty when none is selected.
    [[nodiscard]] virtual QString selectedText() const = 0;
};

// Message boxes of the settings commands that ask for a valid entry first.
inline const QString kPickClockFirst = QStringLiteral("Please pick a clock speed in the list first.");
inline const QString kPickBaudRateFirst = QStringLiteral("Please pick a baud rate in the list first.");
inline const QString kPickCmdModeFirst = QStringLiteral("Please pick a command mode in the list first.");
inline const QString kDecimalRange = QStringLiteral("Please enter a whole number from 0 to 255.");
inline const QString kHexRange = QStringLiteral("Please enter a hexadecimal number from 00 to FF.");

// The settings commands of the main window. Each is one operation on the link
// and reports its outcome as one events-log line; a reply that does not come
// logs "USB Error - could not talk to the device". A held value of nothing
// means the operator has not picked an entry in its list: the command asks
// for one and sends nothing. An entry outside the byte range is refused with
// a message box and nothing is sent. Each returns true when the unit took the
// setting (acknowledged it, and for the clock read it back unchanged).

// "I20", "W" with the clock speed in MHz, then "G20" to read it back.
QCoro::Task<bool> set_clock(protocol::Session& session, std::optional<std::uint8_t> clock_val);
// "X" with the baud-rate code 1..4; the panel's own link speed stays.
QCoro::Task<bool> set_baud_rate(protocol::Session& session, std::optional<std::uint8_t> baud_val);
// "F" with the command-mode code picked in the "Cmd Mode" list.
QCoro::Task<bool> set_cmd_mode(protocol::Session& session, std::optional<std::uint8_t> cmd_mode_val);
// "F" with the code of the name selected in lstControl, after a link check;
// a name that is not a command mode shows "Invalid Command Mode".
QCoro::Task<bool> set_command_mode_by_name(protocol::Session& session, const ListSelection& lstControl);
// "A", "B" or "C" with the decimal entry.
QCoro::Task<bool> set_port_position(protocol::Session& session, protocol::Port port,
                                    const protocol::TextField& entry);
// "O" with the decimal entry, after a link check and the operator's OK.
QCoro::Task<bool> set_op_mode(protocol::Session& session, const protocol::TextField& txt_set_op_mode);
// "N" with the hexadecimal entry, after a link check.
QCoro::Task<bool> set_i2c_address(protocol::Session& session, const protocol::TextField& txt_set_i2c_address);

} // namespace valve::config
