#pragma once

#include "link/operation_queue.h"

namespace valve::record {}

#include <QByteArray>
#include <QString>
#include <qcoro/qcorotask.h>

namespace valve::record {
class OperationLines;
}

namespace valve::protocol {

struct Session;

inline const QString kTalkFailure = QStringLiteral("USB Error - could not talk to the device");

enum class LinkCheck { No, Yes };

// Waits for the link's turn (commands run one after another, never inside
// each other's waits). `label` names what started the operation (its button,
// "Read Status" say); the session's origin is put before it. A refused turn
// means the program is shutting down.
QCoro::Task<link::OperationQueue::Turn> takeTurn(Session& session, QString label);
// The same for an operation whose lines `lines` collects (one of a run's),
// whatever the session collects.
QCoro::Task<link::OperationQueue::Turn> takeTurn(Session& session, QString label,
                                                 record::OperationLines* lines);

// The start of every operator command: takes the turn and, for the commands
// that want it, checks the link; the outcome of the check does not stop the
// command.
QCoro::Task<link::OperationQueue::Turn> beginOperation(Session& session, LinkCheck check, QString label);

// Logs a line of the session's command after its turn has ended (or of no
// command, for the window's): it is not taken for the line of whatever
// operation holds the link by then.
void logAfterTurn(Session& session, const QString& text);

// One exchange of an operation; when a reply character does not come, logs
// `failureLine` (nothing while shutting down) and returns false.
QCoro::Task<bool> exchangeOrReport(Session& session, QByteArray line, int replyLength, QString failureLine);

} // namespace valve::protocol
