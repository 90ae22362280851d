#include "saved_file.h"

#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

namespace valve::record {

QString saveWholeFile(const QString& path, const QByteArray& contents) {
    // QSaveFile would rename its new file over a device or a pipe of that
    // name (over /dev/null, for root), not write into it.
    if (const QFileInfo existing(path); existing.exists() && !existing.isFile() && !existing.isDir()) {
        return QStringLiteral("not a regular file");
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    // A failure while the buffer is flushed must be caught here: commit()
    // would not report it (Qt 6.4) and would put a cut-off file in place.
    // Qt does not keep the cause of a short write; the system's does.
    errno = 0;
    if (file.write(contents) != contents.size() || !file.flush()) {
        QString reason = errno != 0 ? qt_error_string(errno) : file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit()) {
        return file.errorString();
    }
    return {};
}

QString saveFailureMessage(const QString& path, const QString& reason) {
    return QStringLiteral("Could not save %1: %2. An earlier file of that name is left as it was.")
        .arg(path, reason);
}

} // namespace valve::record
