#include "discovery.h"

#include <QNetworkInterface>
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <cstring>

namespace valve::sila {

namespace {

constexpr auto kServiceType = "_sila._tcp";
// A TXT record's "key=value" holds at most 255 bytes.
constexpr qsizetype kMaxRecord = 255;

AvahiStringList* addRecord(AvahiStringList* records, const char* key, const QByteArray& value) {
    const qsizetype room = kMaxRecord - qsizetype(std::strlen(key)) - 1;
    const QByteArray cut = value.left(room);
    return avahi_string_list_add_pair_arbitrary(
        records, key, reinterpret_cast<const uint8_t*>(cut.constData()), static_cast<size_t>(cut.size()));
}

AvahiStringList* records(const Announcement& what) {
    AvahiStringList* list = nullptr;
    list = addRecord(list, "version", what.version.toUtf8());
    list = addRecord(list, "server_name", what.name.toUtf8());
    list = addRecord(list, "description", what.description.toUtf8());
    int index = 0;
    for (const QByteArray& line : what.certificatePem.split('\n')) {
        if (!line.isEmpty()) {
            list = addRecord(list, QByteArray("ca" + QByteArray::number(index++)).constData(), line);
        }
    }
    return list;
}

// The interface of a specific listen address; every interface for 0.0.0.0 and ::.
AvahiIfIndex interfaceOf(const QString& host) {
    const QHostAddress address(host);
    if (address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6) {
        return AVAHI_IF_UNSPEC;
    }
    for (const QNetworkInterface& each : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : each.addressEntries()) {
            if (entry.ip().isEqual(address)) {
                return each.index();
            }
        }
    }
    return AVAHI_IF_UNSPEC;
}

} // namespace

Discovery::Discovery(QObject* parent) : QObject(parent) {}

Discovery::~Discovery() {
    withdraw();
}

void Discovery::announce(const Announcement& what) {
    withdraw();
    what_ = what;
    if (what.loopback) {
        emit message(
            QStringLiteral("The SiLA 2 server listens on loopback only, so it is not announced on the "
                           "network"));
        return;
    }
    int error = 0;
    // Without a daemon the client waits for one and announces once it comes.
    client_ =
        avahi_client_new(poll_.poll(), AVAHI_CLIENT_NO_FAIL,
                         reinterpret_cast<AvahiClientCallback>(&Discovery::clientChanged), this, &error);
    if (client_ == nullptr) {
        emit message(QStringLiteral("The SiLA 2 server is not announced: %1")
                         .arg(QString::fromUtf8(avahi_strerror(error))));
    }
}

void Discovery::rename(const QString& name) {
    what_.name = name;
    if (group_ == nullptr || avahi_entry_group_is_empty(group_)) {
        return; // published with the new name once the daemon is there
    }
    AvahiStringList* txt = records(what_);
    const QByteArray instance = what_.uuid.toUtf8();
    const int updated = avahi_entry_group_update_service_txt_strlst(
        group_, interfaceOf(what_.host), AVAHI_PROTO_UNSPEC, AvahiPublishFlags{}, instance.constData(),
        kServiceType, nullptr, txt);
    avahi_string_list_free(txt);
    if (updated < 0) {
        emit message(QStringLiteral("The SiLA 2 server's new name could not be announced: %1")
                         .arg(QString::fromUtf8(avahi_strerror(avahi_client_errno(client_)))));
    }
}

void Discovery::withdraw() {
    if (client_ != nullptr) {
        avahi_client_free(client_); // frees its entry group too
    }
    client_ = nullptr;
    group_ = nullptr;
}

void Discovery::clientChanged(AvahiClient* client, int state, void* self) {
    auto* discovery = static_cast<Discovery*>(self);
    switch (static_cast<AvahiClientState>(state)) {
    case AVAHI_CLIENT_S_RUNNING:
        discovery->publish(client);
        break;
    case AVAHI_CLIENT_CONNECTING:
        if (!discovery->toldNoDaemon_) {
            discovery->toldNoDaemon_ = true;
            emit discovery->message(
                QStringLiteral("No Avahi daemon runs: the SiLA 2 server is not announced, "
                               "and serves all the same"));
        }
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        if (discovery->group_ != nullptr) {
            avahi_entry_group_reset(discovery->group_);
        }
        break;
    case AVAHI_CLIENT_FAILURE:
        emit discovery->message(QStringLiteral("The SiLA 2 server's announcement failed: %1")
                                    .arg(QString::fromUtf8(avahi_strerror(avahi_client_errno(client)))));
        break;
    }
}

void Discovery::groupChanged(AvahiEntryGroup* /*group*/, int state, void* self) {
    auto* discovery = static_cast<Discovery*>(self);
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
        emit discovery->message(QStringLiteral("The SiLA 2 server is announced by mDNS as %1.%2")
                                    .arg(discovery->what_.uuid, QLatin1String(kServiceType)));
    } else if (state == AVAHI_ENTRY_GROUP_COLLISION || state == AVAHI_ENTRY_GROUP_FAILURE) {
        emit discovery->message(
            QStringLiteral("The SiLA 2 server could not be announced: another service has "
                           "its name, %1")
                .arg(discovery->what_.uuid));
    }
}

void Discovery::publish(AvahiClient* client) {
    if (group_ == nullptr) {
        group_ = avahi_entry_group_new(
            client, reinterpret_cast<AvahiEntryGroupCallback>(&Discovery::groupChanged), this);
    }
    if (group_ == nullptr || !avahi_entry_group_is_empty(group_)) {
        return;
    }
    AvahiStringList* txt = records(what_);
    const QByteArray name = what_.uuid.toUtf8();
    const int added = avahi_entry_group_add_service_strlst(
        group_, interfaceOf(what_.host), AVAHI_PROTO_UNSPEC, AvahiPublishFlags{}, name.constData(),
        kServiceType, nullptr, nullptr, static_cast<uint16_t>(what_.port), txt);
    avahi_string_list_free(txt);
    if (added < 0 || avahi_entry_group_commit(group_) < 0) {
        emit message(QStringLiteral("The SiLA 2 server could not be announced: %1")
                         .arg(QString::fromUtf8(avahi_strerror(avahi_client_errno(client)))));
    }
}

} // namespace valve::sila
