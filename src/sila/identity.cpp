#include "identity.h"

#include <QDir>
#include <QSettings>
#include <QUuid>

namespace valve::sila {

namespace {

// The namespace of the name-based UUIDs of this program's servers.
const QUuid kServerNamespace{QStringLiteral("3f0c7a52-9d1e-4b7a-a6d2-51c9e0f4b8a1")};

QString settingsFile(const QString& directory) {
    return QDir(directory).filePath(QStringLiteral("server.ini"));
}

QString text(const QUuid& uuid) {
    return uuid.toString(QUuid::WithoutBraces).toLower();
}

// A panel with no adapter open would otherwise share one UUID with every
// other such panel anywhere: it gets a random one, made once and kept for
// this installation.
QString installationUuid(const QString& directory) {
    const QString key = QStringLiteral("installation/uuid");
    QSettings settings(settingsFile(directory), QSettings::IniFormat);
    const QUuid kept(settings.value(key).toString());
    if (!kept.isNull()) {
        return text(kept);
    }
    const QString made = text(QUuid::createUuid());
    QDir().mkpath(directory);
    settings.setValue(key, made);
    settings.sync();
    return made;
}

// An adapter without a serial number is known by its description alone,
// which gives the UUID (and kept name) it has always had.
QString uuidFor(const QString& description, const QString& serial, const QString& directory) {
    if (description.isEmpty() && serial.isEmpty()) {
        return installationUuid(directory);
    }
    const QString name = serial.isEmpty() ? description : QStringLiteral("serial:") + serial;
    return text(QUuid::createUuidV5(kServerNamespace, name));
}

} // namespace

ServerIdentity::ServerIdentity(const QString& description, const QString& serial, QString directory)
    : description_(description), directory_(std::move(directory)),
      uuid_(uuidFor(description, serial, directory_)) {
    const QSettings settings(settingsFile(directory_), QSettings::IniFormat);
    name_ = settings.value(uuid_ + QStringLiteral("/name"), QStringLiteral("Valve panel")).toString();
}

bool ServerIdentity::setName(const QString& name) {
    name_ = name;
    QDir().mkpath(directory_);
    QSettings settings(settingsFile(directory_), QSettings::IniFormat);
    settings.setValue(uuid_ + QStringLiteral("/name"), name);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString ServerIdentity::description() {
    return QStringLiteral(
        "A motorised multi-position valve behind the valve panel: move, home, read its status "
        "and run timed routines.");
}

QString ServerIdentity::version() {
#ifdef VALVE_VERSION
    return QStringLiteral(VALVE_VERSION);
#else
    return QStringLiteral("1.0.0");
#endif
}

} // namespace valve::sila
