#pragma once

#include "link/device_search.h"

#include <QByteArray>
#include <QString>
#include <optional>

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
// elsewhere is used only through the panel, when `panelAdapter` (what the
// running panel holds, if one answers) is that adapter; it is never taken over.
// Several candidates and no choice: refused with the list, never picked silently.
AdapterChoice chooseAdapter(const QList<link::AdapterInfo>& adapters, const QString& device,
                            const QString& serial, const std::optional<QString>& panelAdapter);

} // namespace valve::cli
