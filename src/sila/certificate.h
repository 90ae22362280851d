#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace valve::sila {

// Where clients of the standard find the server's UUID in its certificate.
inline constexpr auto kServerUuidOid = "1.3.6.1.4.1.58583";
// How long a certificate made here is valid.
inline constexpr int kCertificateDays = 3650;

struct Credentials {
    QByteArray certificatePem;
    QByteArray keyPem;
};

// The server's own certificate in `directory` (UUID-cert.pem and
// UUID-key.pem, the key readable by the user alone), made the first time
// and again whenever the kept one does not name `uuid` and `host`: a
// self-signed certificate for common name "SiLA2", with `host` and 127.0.0.1
// among its alternative names and the UUID in its own extension.
std::optional<Credentials> ownCertificate(const QString& directory, const QString& uuid, const QString& host,
                                          QString* error);

// The UUID a certificate carries in that extension; empty when none.
QString certificateUuid(const QByteArray& certificatePem);

} // namespace valve::sila
