#pragma once

#include "traffic_record.h"

#include <QByteArrayView>
#include <QString>

namespace valve::record {

// The bytes as text with nothing hidden: control characters as their Unicode
// pictures (CR as "␍"), DEL as "␡", bytes above 0x7F as "·".
QString visibleText(QByteArrayView bytes);
// The bytes as upper-case hex pairs separated by blanks: "53 0D".
QString hexText(QByteArrayView bytes);
// What an entry is, with its direction: "→ sent", "← received", ...
QString kindText(const TrafficEntry& entry);
// Microseconds as seconds with six decimals, and as milliseconds with three.
QString secondsText(std::int64_t us);
QString millisecondsText(std::int64_t us);

// The whole record as CSV, one entry a row, with a header row.
QByteArray trafficCsv(const TrafficRecord& record);
// Saves it; empty on success, otherwise why it failed. An earlier file
// stays intact on failure.
QString saveTrafficCsv(const TrafficRecord& record, const QString& path);

} // namespace valve::record
