#pragma once

#include <QString>
#include <chrono>
#include <optional>

namespace valve::sila {

// What the command line asked of the SiLA server.
struct ListenOptions {
    QString address;  // as given after --sila: PORT, HOST:PORT or [V6]:PORT
    QString certFile; // --sila-cert, with keyFile: the lab's own certificate
    QString keyFile;
    QString clientCaFile;  // --sila-client-ca: only clients with a certificate from it
    bool insecure = false; // --sila-insecure: plain gRPC, on loopback only
    bool open = false;     // --sila-open: any client may connect over TLS
};

// The server's time limits; tests shorten them.
struct SilaTiming {
    // A connection with no call open for this long is closed. A subscription
    // is a call, so an orchestrator holding one is never cut off.
    std::chrono::milliseconds idleConnection{std::chrono::minutes{10}};
};

// Where to listen, and who may connect, once the options are checked.
struct ListenPlan {
    QString host; // an IP address; loopback when none was given
    int port = 0; // 0: the system chooses
    bool loopback = true;
    bool tls = true;
    QString certFile;
    QString keyFile;
    QString clientCaFile;
    SilaTiming timing;

    // host:port as gRPC takes it (IPv6 in brackets).
    [[nodiscard]] QString endpoint(int actualPort) const;
    // Who may connect, in a word the log and the window show.
    [[nodiscard]] QString audience() const;
};

// The plan, or why the options are refused (the start exits with code 2).
struct CheckedListen {
    std::optional<ListenPlan> plan;
    QString error;
};
CheckedListen checkListen(const ListenOptions& options);

} // namespace valve::sila
