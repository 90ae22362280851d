#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

class QIODevice;
class QJsonValue;

namespace valve::remote {

// The panel's socket speaks small JSON objects, one per line, each carrying
// the protocol version "v" and its "type".
//
// valvectl sends:
//   hello                                     which adapter does the panel hold?
//   command  words, confirmed, [routine]      a subcommand with its arguments
//   stop                                      stop the run this connection began
// The panel answers:
//   hello    adapter                          the description of its adapter
//   step     (a run's progress, see commands::stepJson)
//   outcome  (see commands::toJson)                how a command ended
//   error    message                          the message could not be taken
inline constexpr int kProtocolVersion = 1;
// A longer message is refused unread: commands are short and a routine holds
// twenty lines.
inline constexpr qsizetype kMaxMessageBytes = qsizetype{64} * 1024;

namespace type {
inline const QString kHello = QStringLiteral("hello");
inline const QString kCommand = QStringLiteral("command");
inline const QString kStop = QStringLiteral("stop");
inline const QString kStep = QStringLiteral("step");
inline const QString kOutcome = QStringLiteral("outcome");
inline const QString kError = QStringLiteral("error");
} // namespace type

// `body` with the version and the type, as one line.
QByteArray encode(const QString& messageType, QJsonObject body = {});
QByteArray errorMessage(const QString& text);

// One received line as a message, or why it is not one.
struct Message {
    QString type;
    QJsonObject body;
    QString error; // not empty: the line was not a message of this version
};
Message decode(const QByteArray& line);

// What a socket has for the reader now: a complete line, nothing yet, or a
// line longer than kMaxMessageBytes (the stream cannot be trusted after it).
enum class LineState { Complete, Incomplete, TooLong };
LineState takeLine(QIODevice& socket, QByteArray& line);

// A command's words are few and short; anything longer is not valvectl's.
inline constexpr qsizetype kMostWords = 40;
// The words of a command message: a list of 1 to kMostWords strings, or
// nothing when the message holds anything else.
std::optional<QStringList> commandWords(const QJsonValue& words);

} // namespace valve::remote
