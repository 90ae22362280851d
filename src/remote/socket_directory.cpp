#include "socket_directory.h"

#include <QDir>
#include <QFile>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace valve::remote {

namespace {

// A directory only this user can enter: no link, owned by the user, closed
// to everybody else. Anything else could let another user pose as the panel.
bool isPrivateDirectory(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

QString userName() {
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr ? QString::fromLocal8Bit(entry->pw_name) : QString::number(::getuid());
}

} // namespace

SocketDirectory socketDirectory(bool create) {
    const QString fromEnvironment = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!fromEnvironment.isEmpty()) {
        return {fromEnvironment, {}, {}};
    }
    const QString unset = QStringLiteral("XDG_RUNTIME_DIR is not set");
    const QString session = QStringLiteral("/run/user/%1").arg(::getuid());
    if (isPrivateDirectory(session)) {
        return {session, {}, unset};
    }
    const QString temporary = QDir::tempPath() + QStringLiteral("/runtime-") + userName();
    if (create) {
        // Fails harmlessly when it is there already; what is there is checked below.
        ::mkdir(QFile::encodeName(temporary).constData(), S_IRWXU);
    }
    if (isPrivateDirectory(temporary)) {
        return {temporary, {}, unset};
    }
    if (!create && !QFile::exists(temporary)) {
        return {temporary, {}, unset}; // nothing can listen there: no panel, and nothing to fear
    }
    return {
        {}, QStringLiteral("%1, and %2 is not a directory of this user's alone").arg(unset, temporary), {}};
}

SocketDirectory settleSocketDirectory() {
    SocketDirectory directory = socketDirectory(true);
    if (!directory.note.isEmpty()) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(directory.path));
    }
    return directory;
}

QString panelSocketPath(const QString& directory, int slot) {
    const QString name =
        slot <= 1 ? QStringLiteral("valve-panel.socket") : QStringLiteral("valve-panel-%1.socket").arg(slot);
    return directory + QLatin1Char('/') + name;
}

} // namespace valve::remote
