#pragma once

#include <QByteArray>
#include <QString>

namespace valve::record {

// Writes `contents` as the whole of the file at `path`, through a temporary
// file that replaces it only when everything was written: on any failure an
// earlier file of that name stays as it was, and a device or a pipe of that
// name is refused. Empty on success, otherwise why it failed ("No space left
// on device", say).
QString saveWholeFile(const QString& path, const QByteArray& contents);

// What the operator is told when a save failed.
QString saveFailureMessage(const QString& path, const QString& reason);

} // namespace valve::record
