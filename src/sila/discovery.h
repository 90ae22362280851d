#pragma once

#include "qt_avahi_poll.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

struct AvahiClient;
struct AvahiEntryGroup;

namespace valve::sila {

// What a client of the standard finds about the server by mDNS.
struct Announcement {
    QString uuid; // the instance name
    QString host; // the address it listens on
    bool loopback = true;
    int port = 0;
    QString version;
    QString name;
    QString description;
    QByteArray certificatePem; // empty without TLS
};

// The server announced as _sila._tcp through the desktop's own mDNS
// responder (Avahi), its TXT records those the standard names: version,
// server_name, description and the certificate line by line (ca0, ca1, ...).
// Where no Avahi daemon runs, it says so once and waits for one; a server on
// loopback only is not announced, since Avahi announces nothing there.
class Discovery : public QObject {
    Q_OBJECT
public:
    explicit Discovery(QObject* parent = nullptr);
    ~Discovery() override;

    void announce(const Announcement& what);
    // Announces the server's new name in its TXT records.
    void rename(const QString& name);
    void withdraw();

signals:
    // A line for the log.
    void message(const QString& line);

private:
    static void clientChanged(AvahiClient* client, int state, void* self);
    static void groupChanged(AvahiEntryGroup* group, int state, void* self);
    void publish(AvahiClient* client);

    QtAvahiPoll poll_;
    Announcement what_;
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
    bool toldNoDaemon_ = false;
};

} // namespace valve::sila
