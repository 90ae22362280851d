#pragma once

#include <QtGlobal>
#include <optional>
#include <sys/types.h>

namespace valve::remote {

// The user id of the process at the other end of a connected local socket
// (SO_PEERCRED); nothing when the system does not tell.
std::optional<uid_t> peerUser(qintptr socketDescriptor);

} // namespace valve::remote
