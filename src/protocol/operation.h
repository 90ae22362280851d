#pragma once

#include "link/operation_queue.h"

#include <QByteArray>
#include <QString>
#include <qcoro/qcorotask.h>

namespace valve::protocol {

struct Session;

inline const QString kTalkFailure = QStringLiteral("USB Error - could not talk to the device");

enum class LinkCheck { No, Yes };

// Waits for the link's turn (commands run one after another, never inside
// each other's waits). `label` names what started the operation (its button,
// "Read Status" say); the session's origin is put before it. A refused turn
// means the program is shutting down.
QCoro::Task<link::OperationQueue::Turn> takeTurn(Session& session, QString label);

// The start of every operator command: takes the turn and, for the commands
// that want it, checks the link; the outcome of the check does not stop the
// command.
QCoro::Task<link::OperationQueue::Turn> beginOperation(Session& session, LinkCheck check, QString label);

// One exchange of an operation; when a reply character does not come, logs
// `failureLine` (nothing while shutting down) and returns false.
QCoro::Task<bool> exchangeOrReport(Session& session, QByteArray line, int replyLength, QString failureLine);

} // namespace valve::protocol
