#include "messages.h"

#include <QJsonDocument>
#include <QLocalSocket>

namespace valve::remote {

namespace {
const QString kVersion = QStringLiteral("v");
const QString kType = QStringLiteral("type");
} // namespace

QByteArray encode(const QString& messageType, QJsonObject body) {
    body.insert(kVersion, kProtocolVersion);
    body.insert(kType, messageType);
    return QJsonDocument(body).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray errorMessage(const QString& text) {
    return encode(type::kError, {{QStringLiteral("message"), text}});
}

Message decode(const QByteArray& line) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        return {{}, {}, QStringLiteral("not a JSON object")};
    }
    QJsonObject body = document.object();
    if (body.value(kVersion).toInt(-1) != kProtocolVersion) {
        return {{},
                {},
                QStringLiteral("unsupported protocol version (this side speaks %1)").arg(kProtocolVersion)};
    }
    const QString messageType = body.value(kType).toString();
    if (messageType.isEmpty()) {
        return {{}, {}, QStringLiteral("a message without a type")};
    }
    body.remove(kVersion);
    body.remove(kType);
    return {messageType, body, {}};
}

LineState takeLine(QLocalSocket& socket, QByteArray& line) {
    if (socket.canReadLine()) {
        line = socket.readLine(kMaxMessageBytes + 2);
        if (!line.endsWith('\n')) {
            return LineState::TooLong;
        }
        line.chop(1);
        return LineState::Complete;
    }
    return socket.bytesAvailable() > kMaxMessageBytes ? LineState::TooLong : LineState::Incomplete;
}

} // namespace valve::remote
