#pragma once

#include <QString>

namespace valve::sila {

// Longest server name the standard allows.
inline constexpr int kMaxServerNameLength = 255;

// Who the server says it is. The UUID follows from the adapter's serial
// number, so the same unit keeps it across restarts and USB ports; from its
// description when it has none; with no adapter at all, a random UUID kept
// for this installation. The name an orchestrator set is kept in `directory`
// (the server's own configuration folder) under that UUID.
class ServerIdentity {
public:
    ServerIdentity(const QString& description, const QString& serial, QString directory);
    ServerIdentity(const QString& description, QString directory)
        : ServerIdentity(description, {}, std::move(directory)) {}
    // The same server, known by the adapter's serial number when it has one.
    [[nodiscard]] ServerIdentity withSerial(const QString& serial) const {
        return {description_, serial, directory_};
    }

    [[nodiscard]] QString uuid() const { return uuid_; }
    [[nodiscard]] QString name() const { return name_; }
    // Keeps `name`; false when it cannot be stored (the name is taken all the same).
    bool setName(const QString& name);

    static QString type() { return QStringLiteral("ValvePanel"); }
    static QString vendorUrl() { return QStringLiteral("https://valvepanel.org"); }
    static QString description();
    // The program's version, as Major.Minor.Patch.
    static QString version();

private:
    QString description_;
    QString directory_;
    QString uuid_;
    QString name_;
};

} // namespace valve::sila
