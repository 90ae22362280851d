#include "traffic_text.h"

#include "saved_file.h"

namespace valve::record {

namespace {
constexpr char16_t kControlPictures = 0x2400; // "␀" .. "␟"
constexpr char16_t kDeletePicture = 0x2421;   // "␡"
constexpr char16_t kOtherByte = 0x00B7;       // "·"

// A CSV field, quoted when it holds a separator, a quote or a line break.
QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n'))) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
} // namespace

QString visibleText(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
            text += QChar(static_cast<char16_t>(kControlPictures + byte));
        } else if (byte == 0x7F) {
            text += QChar(kDeletePicture);
        } else if (byte > 0x7F) {
            text += QChar(kOtherByte);
        } else {
            text += QLatin1Char(c);
        }
    }
    return text;
}

QString hexText(QByteArrayView bytes) {
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

QString kindText(const TrafficEntry& entry) {
    switch (entry.kind) {
    case TrafficKind::Sent:
        return QStringLiteral("→ sent");
    case TrafficKind::Received:
        return QStringLiteral("← received");
    case TrafficKind::Discarded:
        return QStringLiteral("← discarded");
    case TrafficKind::Purged:
        return QStringLiteral("purged (mask %1)").arg(entry.code);
    case TrafficKind::TimedOut:
        return QStringLiteral("← timed out");
    case TrafficKind::WriteFailed:
        return QStringLiteral("→ write failed");
    case TrafficKind::ReadFailed:
        return QStringLiteral("← read failed (code %1)").arg(entry.code);
    }
    return {};
}

QString secondsText(std::int64_t us) {
    return QString::number(static_cast<double>(us) / 1e6, 'f', 6);
}

QString millisecondsText(std::int64_t us) {
    return QString::number(static_cast<double>(us) / 1e3, 'f', 3);
}

QByteArray trafficCsv(const TrafficRecord& record) {
    QString csv = QStringLiteral("time_s,direction,operation,label,text,hex,after_request_ms\n");
    for (auto seq = record.firstSeq(); seq < record.endSeq(); ++seq) {
        const TrafficEntry& entry = record.at(seq);
        const QByteArray bytes = entry.data();
        const QString fields[] = {
            secondsText(entry.atUs),
            kindText(entry),
            QString::number(entry.operation),
            record.operationLabel(entry.operation),
            visibleText(bytes),
            hexText(bytes),
            entry.sinceRequestUs < 0 ? QString() : millisecondsText(entry.sinceRequestUs),
        };
        for (const QString& field : fields) {
            csv += csvField(field);
            csv += QLatin1Char(',');
        }
        csv.back() = QLatin1Char('\n');
    }
    return csv.toUtf8();
}

QString saveTrafficCsv(const TrafficRecord& record, const QString& path) {
    return saveWholeFile(path, trafficCsv(record));
}

} // namespace valve::record
