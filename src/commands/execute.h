#pragma once

#include "command.h"
#include "outcome.h"

#include <qcoro/qcorotask.h>

namespace valve::protocol {
struct Session;
}

namespace valve::commands {

class QuietBoxes;

// Carries out a subcommand ("list" and "run" aside) on `session`, whose
// message boxes are `boxes`, through the panel's own command logic: each
// unit command is one operation in the link's queue, logs what the panel logs
// and shows its box texts nowhere but in the outcome.
QCoro::Task<Outcome> execute(protocol::Session& session, QuietBoxes& boxes, Command command);

} // namespace valve::commands
