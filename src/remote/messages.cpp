#include "messages.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>

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

LineState takeLine(QIODevice& socket, QByteArray& line) {
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

std::optional<QStringList> commandWords(const QJsonValue& words) {
    const QJsonArray array = words.toArray();
    if (!words.isArray() || array.isEmpty() || array.size() > kMostWords) {
        return std::nullopt;
    }
    QStringList list;
    for (const auto& word : array) {
        if (!word.isString()) {
            return std::nullopt;
        }
        list << word.toString();
    }
    return list;
}

} // namespace valve::remote
