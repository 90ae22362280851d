#include "certificate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace valve::sila {

namespace {

template <class T, void (*Free)(T*)> struct Deleter {
    void operator()(T* each) const { Free(each); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

QByteArray drain(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return {data, static_cast<qsizetype>(size)};
}

bool addExtension(X509* certificate, int nid, const QByteArray& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.constData());
    const bool added = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// The UUID's 36 characters as the extension's value, as they are.
bool addUuid(X509* certificate, const QString& uuid) {
    ASN1_OBJECT* oid = OBJ_txt2obj(kServerUuidOid, 1);
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    const QByteArray text = uuid.toLatin1();
    ASN1_OCTET_STRING_set(value, reinterpret_cast<const unsigned char*>(text.constData()), text.size());
    X509_EXTENSION* extension = X509_EXTENSION_create_by_OBJ(nullptr, oid, 0, value);
    const bool added = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    ASN1_OCTET_STRING_free(value);
    ASN1_OBJECT_free(oid);
    return added;
}

QByteArray alternativeNames(const QString& host) {
    QStringList names{QStringLiteral("IP:127.0.0.1"), QStringLiteral("DNS:localhost")};
    const QHostAddress address(host);
    if (!address.isNull() && address != QHostAddress(QStringLiteral("127.0.0.1"))) {
        names << QStringLiteral("IP:") + address.toString();
    }
    return names.join(QLatin1Char(',')).toLatin1();
}

std::optional<Credentials> make(const QString& uuid, const QString& host) {
    Key key(EVP_EC_gen("P-256"));
    Certificate certificate(X509_new());
    if (!key || !certificate) {
        return std::nullopt;
    }
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(QDateTime::currentSecsSinceEpoch()));
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), long{kCertificateDays} * 24 * 3600);
    X509_set_pubkey(cert, key.get());
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("SiLA2"), -1,
                               -1, 0);
    X509_set_issuer_name(cert, name);
    const bool extended = addExtension(cert, NID_subject_alt_name, alternativeNames(host)) &&
                          addExtension(cert, NID_basic_constraints, "critical,CA:TRUE") &&
                          addUuid(cert, uuid);
    if (!extended || X509_sign(cert, key.get(), EVP_sha256()) == 0) {
        return std::nullopt;
    }
    Bio certOut(BIO_new(BIO_s_mem()));
    Bio keyOut(BIO_new(BIO_s_mem()));
    if (PEM_write_bio_X509(certOut.get(), cert) != 1 ||
        PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return std::nullopt;
    }
    return Credentials{drain(certOut.get()), drain(keyOut.get())};
}

// Whether the kept certificate still names `uuid` and `host`.
bool fits(const QByteArray& pem, const QString& uuid, const QString& host) {
    if (certificateUuid(pem) != uuid) {
        return false;
    }
    Bio in(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    Certificate certificate(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
    const QHostAddress address(host);
    if (!certificate || address.isNull()) {
        return false;
    }
    const QByteArray text = address.toString().toLatin1();
    return X509_check_ip_asc(certificate.get(), text.constData(), 0) == 1 &&
           X509_cmp_current_time(X509_get0_notAfter(certificate.get())) > 0;
}

bool writeFile(const QString& path, const QByteArray& data, QFileDevice::Permissions permissions) {
    QFile file(path);
    // Made with its final permissions before anything is written to it.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.setPermissions(permissions)) {
        return false;
    }
    return file.write(data) == data.size() && file.flush();
}

} // namespace

QString certificateUuid(const QByteArray& certificatePem) {
    Bio in(BIO_new_mem_buf(certificatePem.constData(), static_cast<int>(certificatePem.size())));
    Certificate certificate(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
    if (!certificate) {
        return {};
    }
    ASN1_OBJECT* oid = OBJ_txt2obj(kServerUuidOid, 1);
    const int index = X509_get_ext_by_OBJ(certificate.get(), oid, -1);
    ASN1_OBJECT_free(oid);
    if (index < 0) {
        return {};
    }
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(X509_get_ext(certificate.get(), index));
    return QString::fromLatin1(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                               ASN1_STRING_length(value));
}

std::optional<Credentials> ownCertificate(const QString& directory, const QString& uuid, const QString& host,
                                          QString* error) {
    const QDir dir(directory);
    // One pair a server: two units served on one computer keep their own.
    const QString certPath = dir.filePath(uuid + QStringLiteral("-cert.pem"));
    const QString keyPath = dir.filePath(uuid + QStringLiteral("-key.pem"));
    QFile certFile(certPath);
    QFile keyFile(keyPath);
    if (certFile.open(QIODevice::ReadOnly) && keyFile.open(QIODevice::ReadOnly)) {
        Credentials kept{certFile.readAll(), keyFile.readAll()};
        if (fits(kept.certificatePem, uuid, host)) {
            return kept;
        }
    }
    const auto made = make(uuid, host);
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!made || !QDir().mkpath(directory) ||
        !QFile::setPermissions(directory, owner | QFileDevice::ExeOwner) ||
        !writeFile(keyPath, made->keyPem, owner) ||
        !writeFile(certPath, made->certificatePem, owner | QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
        if (error != nullptr) {
            *error = QStringLiteral("cannot make the server's certificate in %1").arg(directory);
        }
        return std::nullopt;
    }
    return made;
}

} // namespace valve::sila
