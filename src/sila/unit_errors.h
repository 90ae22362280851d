#pragma once

#include <QString>
#include <grpcpp/support/status.h>

namespace valve::commands {
struct Outcome;
}

namespace valve::protocol {
struct Session;
}

namespace valve::sila {

// What a failed command means to a client, as the defined execution error of
// `feature`: the unit not connected (the link could not reach its adapter, or
// a read got no answer), a move it did not confirm, or the unit busy with a
// routine. The message is the panel's own line.
grpc::Status unitError(const char* feature, const commands::Outcome& outcome, bool move);
// The unit busy with a routine, with the panel's words.
grpc::Status busyError(const char* feature);

// Whether the unit's adapter is open, as far as the link knows.
bool adapterOpen(const protocol::Session& session);
// Whether `line`, of the link's own, says that the adapter is gone.
bool adapterLost(const QString& line);

} // namespace valve::sila
