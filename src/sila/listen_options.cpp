#include "listen_options.h"

#include <QHostAddress>

namespace valve::sila {

namespace {

struct HostPort {
    QString host;
    QString port;
};

// PORT, HOST:PORT or [V6]:PORT.
std::optional<HostPort> split(const QString& address) {
    if (address.startsWith(QLatin1Char('['))) {
        const auto close = address.indexOf(QStringLiteral("]:"));
        if (close < 0) {
            return std::nullopt;
        }
        return HostPort{address.mid(1, close - 1), address.mid(close + 2)};
    }
    const auto colon = address.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        return HostPort{QStringLiteral("127.0.0.1"), address};
    }
    if (address.indexOf(QLatin1Char(':')) != colon) {
        return std::nullopt; // a bare IPv6 address needs its brackets
    }
    return HostPort{address.left(colon), address.mid(colon + 1)};
}

std::optional<int> portNumber(const QString& text) {
    if (text.isEmpty() || text.size() > 5) {
        return std::nullopt;
    }
    for (const QChar each : text) {
        if (each < QLatin1Char('0') || each > QLatin1Char('9')) {
            return std::nullopt;
        }
    }
    const int port = text.toInt();
    return port <= 65535 ? std::optional(port) : std::nullopt;
}

CheckedListen refused(const QString& why) {
    return {std::nullopt, why};
}

} // namespace

QString ListenPlan::endpoint(int actualPort) const {
    const bool v6 = host.contains(QLatin1Char(':'));
    return (v6 ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2")).arg(host).arg(actualPort);
}

QString ListenPlan::audience() const {
    if (!tls) {
        return QStringLiteral("this computer only, without TLS");
    }
    if (!clientCaFile.isEmpty()) {
        return QStringLiteral("clients with a certificate from %1").arg(clientCaFile);
    }
    return loopback ? QStringLiteral("this computer only") : QStringLiteral("anyone on the network");
}

CheckedListen checkListen(const ListenOptions& options) {
    const auto parts = split(options.address);
    if (!parts) {
        return refused(
            QStringLiteral("--sila: \"%1\" is not PORT, HOST:PORT or [IPv6]:PORT").arg(options.address));
    }
    const auto port = portNumber(parts->port);
    if (!port) {
        return refused(QStringLiteral("--sila: \"%1\" is not a port number (0 to 65535)").arg(parts->port));
    }
    QString host = parts->host;
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) {
        host = QStringLiteral("127.0.0.1");
    }
    const QHostAddress ip(host);
    if (ip.isNull()) {
        return refused(QStringLiteral("--sila: \"%1\" is not an IP address").arg(parts->host));
    }
    ListenPlan plan;
    plan.host = ip.toString();
    plan.port = *port;
    plan.loopback = ip.isLoopback();
    plan.tls = !options.insecure;
    plan.certFile = options.certFile;
    plan.keyFile = options.keyFile;
    plan.clientCaFile = options.clientCaFile;
    if (options.certFile.isEmpty() != options.keyFile.isEmpty()) {
        return refused(QStringLiteral("--sila-cert and --sila-key go together"));
    }
    if (options.insecure && !plan.loopback) {
        return refused(
            QStringLiteral("--sila-insecure is refused on %1: plain gRPC only on loopback").arg(plan.host));
    }
    if (options.insecure && (!options.certFile.isEmpty() || !options.clientCaFile.isEmpty())) {
        return refused(QStringLiteral("--sila-insecure takes no certificate"));
    }
    if (!plan.loopback && options.clientCaFile.isEmpty() && !options.open) {
        return refused(
            QStringLiteral("--sila on %1 reaches the network: add --sila-client-ca FILE to admit only "
                           "clients with a certificate from that authority, or --sila-open to admit anyone")
                .arg(plan.host));
    }
    return {plan, {}};
}

} // namespace valve::sila
