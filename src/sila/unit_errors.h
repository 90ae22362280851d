#pragma once

#include <grpcpp/support/status.h>

namespace valve::commands {
struct Outcome;
}

namespace valve::protocol {
struct Session;
}

namespace valve::sila {

// What a failed command means to a client, as the defined execution error of
// `feature`: the unit not connected (its adapter closed, or no answer to a
// read), a move it did not confirm, or the unit busy with a routine. The
// message is the panel's own line.
grpc::Status unitError(const char* feature, const commands::Outcome& outcome,
                       const protocol::Session& session, bool move);
// The unit busy with a routine, with the panel's words.
grpc::Status busyError(const char* feature);

// Whether the unit's adapter is open, as far as the link knows.
bool adapterOpen(const protocol::Session& session);

} // namespace valve::sila
