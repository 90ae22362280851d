#include "execute.h"

#include "config/error_stack.h"
#include "config/memory_editor.h"
#include "config/settings_commands.h"
#include "protocol/codec.h"
#include "protocol/position_commands.h"
#include "protocol/query_commands.h"
#include "protocol/session.h"
#include "protocol/text_field.h"
#include "record/event_log.h"
#include "record/operation_lines.h"
#include "windowless_session.h"

#include <QJsonArray>
#include <algorithm>
#include <utility>

namespace valve::commands {

namespace {

using Kind = Command::Kind;
using protocol::StoredText;

// Notes the events-log lines of one command's own operations and the box
// texts it showed, and makes its outcome from them. While it lives, the
// session's operations claim their lines for it.
class Record {
public:
    Record(protocol::Session& session, QuietBoxes& boxes)
        : session_(session), boxes_(boxes), boxesBefore_(boxes.texts().size()), lines_(session.log),
          outer_(std::exchange(session.lines, &lines_)) {}
    ~Record() { session_.lines = outer_; }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    // Success: the values; on standard output `shown` followed by the
    // command's reports (in the panel's words), on standard error the link's
    // own lines (a reconnect, say).
    Outcome succeeded(QJsonObject values, const QStringList& shown = {}) const {
        Outcome outcome;
        outcome.values = std::move(values);
        outcome.out = shown + lines_.texts(record::LineKind::Report);
        outcome.err = lines_.texts(record::LineKind::Link);
        outcome.log = lines_.texts();
        return outcome;
    }
    // Failure: what the command logged and the boxes it showed, and `extra`
    // for failures reported elsewhere (the memory editor's status text).
    Outcome failed(const QStringList& extra = {}) const {
        Outcome outcome;
        outcome.exitCode = kUnitFailed;
        outcome.log = lines_.texts();
        outcome.err = outcome.log + boxes_.texts().mid(boxesBefore_) + extra;
        if (outcome.err.isEmpty()) {
            outcome.err << QStringLiteral("the command did not complete: the link was closed");
        }
        return outcome;
    }

private:
    protocol::Session& session_;
    QuietBoxes& boxes_;
    qsizetype boxesBefore_;
    record::OperationLines lines_;
    record::OperationLines* outer_;
};

QString hex(std::uint8_t byte) {
    return QString::fromLatin1(protocol::byte2hex(byte));
}

// A read command, and under which name its value goes into the outcome: the
// reply value, or the box's text where that is what the panel shows.
struct Query {
    Kind kind;
    QCoro::Task<std::optional<int>> (*read)(protocol::Session&, protocol::TextField&);
    const char* key;
    bool valueIsText;
};

constexpr Query kQueries[] = {
    {Kind::Status, protocol::read_status, "position", false},
    {Kind::CommandMode, protocol::read_control_method, "command_mode", true},
    {Kind::Firmware, protocol::read_firmware_revision, "firmware", true},
    {Kind::OpMode, protocol::read_op_mode, "op_mode", false},
    {Kind::Clock, protocol::read_clock, "clock_mhz", false},
};

QCoro::Task<Outcome> query(protocol::Session& session, QuietBoxes& boxes, Kind kind) {
    const Record record(session, boxes);
    StoredText box;
    if (kind == Kind::Error) {
        const auto code = co_await protocol::read_error(session, box);
        if (!code) {
            co_return record.failed();
        }
        // A named code has its line in the log already.
        const QJsonValue line = protocol::namedErrorLine(*code).value_or(QString());
        co_return record.succeeded(
            {{QStringLiteral("error_code"), *code}, {QStringLiteral("error_line"), line}},
            {QString::number(*code)});
    }
    const auto* read = std::find_if(std::begin(kQueries), std::end(kQueries),
                                    [kind](const Query& each) { return each.kind == kind; });
    if (read == std::end(kQueries)) {
        co_return Outcome::failed(kBadUsage, QStringLiteral("not a read command"));
    }
    const auto value = co_await read->read(session, box);
    if (!value) {
        co_return record.failed();
    }
    const QString shown = box.text().trimmed(); // the clock's box begins with a blank
    const QJsonValue result = read->valueIsText ? QJsonValue(shown) : QJsonValue(*value);
    co_return record.succeeded({{QLatin1String(read->key), result}}, {shown});
}

QCoro::Task<Outcome> readPorts(protocol::Session& session, QuietBoxes& boxes) {
    const Record record(session, boxes);
    QJsonObject values;
    QStringList shown;
    for (const protocol::Port port : {protocol::Port::A, protocol::Port::B, protocol::Port::C}) {
        StoredText box;
        const auto value = co_await protocol::read_port_position(session, port, box);
        if (!value) {
            co_return record.failed();
        }
        const QChar letter = QLatin1Char(protocol::portLetter(port));
        values.insert(QStringLiteral("port_") + letter.toLower(), *value);
        shown << QStringLiteral("%1 %2").arg(letter).arg(box.text());
    }
    co_return record.succeeded(values, shown);
}

QCoro::Task<Outcome> position(protocol::Session& session, QuietBoxes& boxes, const Command& command) {
    const Record record(session, boxes);
    StoredText box;
    if (command.kind == Kind::Move) {
        const bool reached = co_await protocol::move_valve(session, command.value, box);
        if (reached) {
            co_return record.succeeded({{QStringLiteral("position"), command.value}});
        }
        co_return record.failed();
    }
    const auto homed = co_await protocol::home_valve(session, box);
    if (homed) {
        co_return record.succeeded({{QStringLiteral("position"), *homed}},
                                   {QStringLiteral("Homed: position ") + box.text()});
    }
    co_return record.failed();
}

// lstControl with one name selected.
class SelectedName : public config::ListSelection {
public:
    explicit SelectedName(QString name) : name_(std::move(name)) {}
    [[nodiscard]] QString selectedText() const override { return name_; }

private:
    QString name_;
};

StoredText entry(const QString& text) {
    StoredText field;
    field.setText(text);
    return field;
}

QCoro::Task<Outcome> setting(protocol::Session& session, QuietBoxes& boxes, const Command& command) {
    const Record record(session, boxes);
    bool took = false;
    QJsonObject values;
    // Typed entries go to the commands as plain whole numbers (hexadecimal for
    // the I2C address), so the user's number format cannot change them.
    switch (command.kind) {
    case Kind::SetClock:
        took = co_await config::set_clock(session, command.value);
        values.insert(QStringLiteral("clock_mhz"), command.value);
        break;
    case Kind::SetBaud:
        took = co_await config::set_baud_rate(session, command.value);
        values.insert(QStringLiteral("baud"), command.words.last().toInt());
        break;
    case Kind::SetCommandMode: {
        const SelectedName name(command.modeName);
        took = co_await config::set_command_mode_by_name(session, name);
        values.insert(QStringLiteral("command_mode"), command.modeName);
        break;
    }
    case Kind::SetPorts:
        took = true;
        for (int index = 0; index < 3 && took; ++index) {
            if (const auto value = command.ports.at(index)) {
                const auto port = static_cast<protocol::Port>(index);
                const StoredText text = entry(QString::number(*value));
                took = co_await config::set_port_position(session, port, text);
                values.insert(QStringLiteral("port_") + QChar(u'a' + index), *value);
            }
        }
        break;
    case Kind::SetOpMode: {
        const StoredText text = entry(QString::number(command.value));
        took = co_await config::set_op_mode(session, text);
        values.insert(QStringLiteral("op_mode"), command.value);
        break;
    }
    case Kind::SetI2c: {
        const StoredText text = entry(hex(command.value));
        took = co_await config::set_i2c_address(session, text);
        values.insert(QStringLiteral("i2c_address"), hex(command.value));
        break;
    }
    default:
        break;
    }
    co_return took ? record.succeeded(values) : record.failed();
}

QCoro::Task<Outcome> memory(protocol::Session& session, QuietBoxes& boxes, const Command& command) {
    const Record record(session, boxes);
    config::MemoryEditor editor;
    StoredText stat;
    if (command.kind == Kind::MemoryWrite) {
        for (const auto& [address, value] : command.writes) {
            editor.openEditor(address - config::MemoryEditor::kAddressBeforeFirst);
            if (editor.commitEdit(value) != config::EditOutcome::Stored) {
                co_return Outcome::failed(kBadUsage, value + QStringLiteral(": not a byte"));
            }
        }
        const config::MemoryOutcome written = co_await editor.write(session, stat);
        if (written == config::MemoryOutcome::Programmed) {
            co_return record.succeeded({}, {stat.text()});
        }
    } else {
        const config::MemoryOutcome read = co_await editor.read(session, stat);
        if (read == config::MemoryOutcome::Read) {
            QJsonObject bytes;
            QStringList shown;
            for (const std::uint8_t address : command.addresses) {
                const QString text = editor.cell(address - config::MemoryEditor::kAddressBeforeFirst).text;
                bytes.insert(hex(address), text);
                shown << hex(address) + QLatin1Char(' ') + text;
            }
            co_return record.succeeded({{QStringLiteral("memory"), bytes}}, shown);
        }
    }
    QString failure = stat.text();
    if (config::MemoryEditor::isDataColumn(editor.current().column)) {
        failure += QStringLiteral(" (at address %1)")
                       .arg(hex(config::MemoryEditor::addressOf(editor.current().column)));
    }
    co_return record.failed({failure});
}

QCoro::Task<Outcome> errorStack(protocol::Session& session, QuietBoxes& boxes, const Command& command) {
    const Record record(session, boxes);
    std::array<StoredText, config::ErrorStack::kEntries> entries;
    config::ErrorStack stack({&entries[0], &entries[1], &entries[2], &entries[3], &entries[4]});
    StoredText stat;
    if (command.kind == Kind::ErrorsClear) {
        const config::MemoryOutcome cleared = co_await stack.clear(session, stat);
        if (cleared == config::MemoryOutcome::Programmed) {
            co_return record.succeeded({}, {stat.text()});
        }
        co_return record.failed({stat.text()});
    }
    const config::ErrorStack::Read read = co_await stack.read(session, stat);
    if (read.outcome != config::MemoryOutcome::Read) {
        co_return record.failed({stat.text()});
    }
    QJsonArray values;
    QStringList shown;
    for (int index = 0; index < config::ErrorStack::kEntries; ++index) {
        values.append(int{read.entries.at(index)});
        shown << hex(config::ErrorStack::addressOf(index)) + QLatin1Char(' ') + entries.at(index).text();
    }
    co_return record.succeeded({{QStringLiteral("error_stack"), values}}, shown);
}

} // namespace

QCoro::Task<Outcome> execute(protocol::Session& session, QuietBoxes& boxes, Command command) {
    Outcome outcome;
    switch (command.kind) {
    case Kind::Ports:
        outcome = co_await readPorts(session, boxes);
        break;
    case Kind::Move:
    case Kind::Home:
        outcome = co_await position(session, boxes, command);
        break;
    case Kind::SetClock:
    case Kind::SetBaud:
    case Kind::SetCommandMode:
    case Kind::SetPorts:
    case Kind::SetOpMode:
    case Kind::SetI2c:
        outcome = co_await setting(session, boxes, command);
        break;
    case Kind::MemoryRead:
    case Kind::MemoryWrite:
        outcome = co_await memory(session, boxes, command);
        break;
    case Kind::ErrorsRead:
    case Kind::ErrorsClear:
        outcome = co_await errorStack(session, boxes, command);
        break;
    case Kind::List:
    case Kind::Run:
    case Kind::Stop:
    case Kind::Runs:
    case Kind::RunsShow:
        outcome = Outcome::failed(kBadUsage, command.name() + QStringLiteral(": not a unit command"));
        break;
    default:
        outcome = co_await query(session, boxes, command.kind);
        break;
    }
    co_return outcome;
}

} // namespace valve::commands
