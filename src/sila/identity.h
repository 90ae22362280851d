#pragma once

#include <QString>

namespace valve::sila {

// Longest server name the standard allows.
inline constexpr int kMaxServerNameLength = 255;

// Who the server says it is. The UUID follows from the adapter, so the same
// unit keeps it across restarts; the name an orchestrator set is kept in
// `directory` (the server's own configuration folder) under that UUID.
class ServerIdentity {
public:
    ServerIdentity(const QString& adapter, QString directory);

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
    QString directory_;
    QString uuid_;
    QString name_;
};

} // namespace valve::sila
