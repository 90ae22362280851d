#include "unit_errors.h"

#include "commands/outcome.h"
#include "errors.h"
#include "feature_definitions.h"
#include "link/usb_link.h"
#include "protocol/session.h"

#include <algorithm>

namespace valve::sila {

namespace {

QString panelLine(const commands::Outcome& outcome) {
    const QString line = outcome.err.join(QLatin1Char('\n'));
    return line.isEmpty() ? QStringLiteral("the command did not complete") : line;
}

} // namespace

bool adapterOpen(const protocol::Session& session) {
    return session.link.usb_handle() != 0 && !session.link.is_shut_down();
}

grpc::Status busyError(const char* feature) {
    return definedError(errorId(feature, "UnitBusy"), QStringLiteral("the panel's Timed Events are in use"));
}

bool adapterLost(const QString& line) {
    return line == QLatin1String("Could not reestablish connection");
}

grpc::Status unitError(const char* feature, const commands::Outcome& outcome, bool move) {
    if (outcome.err.contains(QStringLiteral("the panel's Timed Events are in use"))) {
        return busyError(feature);
    }
    const bool lost = std::any_of(outcome.err.begin(), outcome.err.end(), adapterLost);
    if (move && !lost) {
        return definedError(errorId(feature, "MoveNotConfirmed"), panelLine(outcome));
    }
    return definedError(errorId(feature, "UnitNotConnected"), panelLine(outcome));
}

} // namespace valve::sila
