#include "peer_user.h"

#include <sys/socket.h>

namespace valve::remote {

std::optional<uid_t> peerUser(qintptr socketDescriptor) {
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof(credentials)) {
        return std::nullopt;
    }
    return credentials.uid;
}

} // namespace valve::remote
