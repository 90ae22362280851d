#pragma once

#include "link/device_search.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace valve::cli {

// Which way a command goes: valvectl opens an adapter itself, hands the
// command to the running panel that holds it, or refuses.
struct AdapterChoice {
    enum class Way { Direct, Panel, Refused };
    Way way = Way::Refused;
    QByteArray description; // Direct: the adapter to open
    QString message;        // Refused: why
    int exitCode = 0;       // Refused: 1 for a unit that cannot be had, 2 when the user must choose
};

// Chooses among the attached `adapters` by `device` (description) or
// `serial`, or, with neither, the only one there is to use. An adapter open
// elsewhere is used only through a panel, when one of `panelAdapters` (what
// the running panels hold) is that adapter; it is never taken over. A panel's
// adapter the driver does not show (a simulated unit's) is found by `device`.
// Several candidates and no choice: refused with the list, never picked silently.
AdapterChoice chooseAdapter(const QList<link::AdapterInfo>& adapters, const QString& device,
                            const QString& serial, const QStringList& panelAdapters);

// A running panel as valvectl found it at its socket: the adapter it holds
// (empty: none), or why it would not serve.
struct SeenPanel {
    QString socket;
    QString adapter;
    QString refusal; // not empty: the panel's own words, or why nothing answered as a panel
};

// Which panel a command given with --panel goes to: the one that holds
// `wanted` (an adapter's description), or with nothing wanted the only one
// running. Refused when none or several fit; a refusing panel's words are
// the message when it may be the one meant.
struct PanelPick {
    int index = -1; // into the panels; -1: refused
    QString message;
    int exitCode = 0;
};
PanelPick pickPanel(const std::vector<SeenPanel>& panels, const QString& wanted);

} // namespace valve::cli
