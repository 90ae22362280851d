#pragma once

#include <QString>

namespace valve::remote {

// Where the panels' sockets live: the user's runtime directory,
// $XDG_RUNTIME_DIR. Without that variable (a cron job, a login without a
// session), the one the session would have had, /run/user/UID, and failing
// that <temp>/runtime-USER, made private to the user when the panel needs it.
struct SocketDirectory {
    QString path;    // empty when there is none to use
    QString problem; // why there is none
    QString note;    // how it was found, when not from $XDG_RUNTIME_DIR
};

// Worked out from the environment without a word on any stream. With
// `create`, the last fallback is made when it does not exist yet.
SocketDirectory socketDirectory(bool create = false);

// For the panel, before the toolkit starts: without $XDG_RUNTIME_DIR, makes
// the directory and sets the variable to it, so that the toolkit uses the
// same one and has no warning of its own to give.
SocketDirectory settleSocketDirectory();

// Each running panel has a socket of its own, the first free one of
// valve-panel.socket, valve-panel-2.socket, ... up to kMaxPanels.
inline constexpr int kMaxPanels = 16;
QString panelSocketPath(const QString& directory, int slot);

} // namespace valve::remote
