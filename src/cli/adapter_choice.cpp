#include "adapter_choice.h"

#include "commands/command.h"

namespace valve::cli {

namespace {

using Way = AdapterChoice::Way;

AdapterChoice refused(int exitCode, const QString& message) {
    return {Way::Refused, {}, message, exitCode};
}

QString describe(const link::AdapterInfo& adapter) {
    return QStringLiteral("  %1 (serial %2)")
        .arg(QString::fromLocal8Bit(adapter.description), QString::fromLocal8Bit(adapter.serialNumber));
}

bool heldByPanel(const link::AdapterInfo& adapter, const QStringList& panelAdapters) {
    const QString description = QString::fromLocal8Bit(adapter.description);
    return adapter.openElsewhere && !description.isEmpty() && panelAdapters.contains(description);
}

// The adapter to open, or to reach through the panel; refused when it cannot
// be told apart from another free one with the same description.
AdapterChoice take(const link::AdapterInfo& adapter, const QList<link::AdapterInfo>& adapters,
                   const QStringList& panelAdapters) {
    if (heldByPanel(adapter, panelAdapters)) {
        return {Way::Panel, adapter.description, {}, 0};
    }
    if (adapter.openElsewhere) {
        return refused(commands::kUnitFailed,
                       QStringLiteral("%1 is open in another program; valvectl does not take it over")
                           .arg(QString::fromLocal8Bit(adapter.description)));
    }
    qsizetype twins = 0;
    for (const link::AdapterInfo& other : adapters) {
        twins += !other.openElsewhere && other.description == adapter.description ? 1 : 0;
    }
    if (twins > 1) {
        // The link opens an adapter by its description.
        return refused(commands::kBadUsage,
                       QStringLiteral("%1 free adapters share the description \"%2\"; unplug the "
                                      "others, valvectl cannot tell them apart")
                           .arg(twins)
                           .arg(QString::fromLocal8Bit(adapter.description)));
    }
    return {Way::Direct, adapter.description, {}, 0};
}

} // namespace

AdapterChoice chooseAdapter(const QList<link::AdapterInfo>& adapters, const QString& device,
                            const QString& serial, const QStringList& panelAdapters) {
    if (!device.isEmpty() || !serial.isEmpty()) {
        const bool bySerial = !serial.isEmpty();
        QList<link::AdapterInfo> matches;
        for (const link::AdapterInfo& adapter : adapters) {
            const QByteArray& key = bySerial ? adapter.serialNumber : adapter.description;
            if (QString::fromLocal8Bit(key) == (bySerial ? serial : device)) {
                matches << adapter;
            }
        }
        if (matches.isEmpty() && !bySerial && panelAdapters.contains(device)) {
            return {
                Way::Panel, device.toLocal8Bit(), {}, 0}; // on a unit the driver does not show (simulated)
        }
        if (matches.isEmpty()) {
            return refused(commands::kUnitFailed, QStringLiteral("no adapter with the %1 \"%2\" is attached")
                                                      .arg(bySerial ? QStringLiteral("serial number")
                                                                    : QStringLiteral("description"),
                                                           commands::quoted(bySerial ? serial : device)));
        }
        // A free one first, then the one the panel holds.
        for (const link::AdapterInfo& adapter : matches) {
            if (!adapter.openElsewhere) {
                return take(adapter, adapters, panelAdapters);
            }
        }
        return take(matches.front(), adapters, panelAdapters);
    }

    QList<link::AdapterInfo> candidates;
    for (const link::AdapterInfo& adapter : adapters) {
        if (!adapter.openElsewhere || heldByPanel(adapter, panelAdapters)) {
            candidates << adapter;
        }
    }
    if (candidates.size() == 1) {
        return take(candidates.front(), adapters, panelAdapters);
    }
    if (candidates.isEmpty()) {
        QString message = QStringLiteral("Error - Could not find any Nerra Devices through USB");
        if (!adapters.isEmpty()) {
            message += QStringLiteral(" (%1 open in other programs)").arg(adapters.size());
        }
        QStringList held = panelAdapters;
        held.removeAll(QString());
        if (held.size() == 1) {
            message +=
                QStringLiteral("\na panel is running with %1: reach it with --panel").arg(held.front());
        } else if (held.size() > 1) {
            message += QStringLiteral("\npanels are running with %1: reach one with --panel --device")
                           .arg(held.join(QStringLiteral(", ")));
        }
        return refused(commands::kUnitFailed, message);
    }
    QString message = QStringLiteral("%1 adapters are attached; choose one with --device or --serial:")
                          .arg(candidates.size());
    for (const link::AdapterInfo& adapter : candidates) {
        message += QLatin1Char('\n') + describe(adapter);
    }
    return refused(commands::kBadUsage, message);
}

PanelPick pickPanel(const std::vector<SeenPanel>& panels, const QString& wanted) {
    const auto refused = [](int exitCode, const QString& message) {
        return PanelPick{-1, message, exitCode};
    };
    QStringList refusals;
    for (const SeenPanel& panel : panels) {
        if (!panel.refusal.isEmpty()) {
            refusals << panel.refusal;
        }
    }
    if (wanted.isEmpty()) {
        if (panels.size() == 1) {
            return refusals.isEmpty() ? PanelPick{0, {}, 0}
                                      : refused(commands::kUnitFailed, refusals.front());
        }
        QString message =
            QStringLiteral("%1 panels are running; choose one with --device or --serial:").arg(panels.size());
        for (const SeenPanel& panel : panels) {
            const QString what = !panel.refusal.isEmpty()  ? panel.refusal
                                 : panel.adapter.isEmpty() ? QStringLiteral("no adapter")
                                                           : panel.adapter;
            message += QStringLiteral("\n  %1 (at %2)").arg(what, panel.socket);
        }
        return refused(commands::kBadUsage, message);
    }
    std::vector<int> holding;
    QStringList held;
    for (std::size_t index = 0; index < panels.size(); ++index) {
        if (panels[index].refusal.isEmpty() && panels[index].adapter == wanted) {
            holding.push_back(static_cast<int>(index));
        }
        if (panels[index].refusal.isEmpty() && !panels[index].adapter.isEmpty()) {
            held << panels[index].adapter;
        }
    }
    if (holding.size() == 1) {
        return {holding.front(), {}, 0};
    }
    if (holding.size() > 1) {
        return refused(commands::kUnitFailed,
                       QStringLiteral("%1 running panels hold \"%2\"; valvectl cannot tell them apart")
                           .arg(holding.size())
                           .arg(commands::quoted(wanted)));
    }
    if (!refusals.isEmpty()) {
        return refused(commands::kUnitFailed, refusals.join(QLatin1Char('\n')));
    }
    QString message = QStringLiteral("no running panel holds \"%1\"").arg(commands::quoted(wanted));
    if (!held.isEmpty()) {
        message += QStringLiteral("; the running panels hold %1").arg(held.join(QStringLiteral(", ")));
    }
    return refused(commands::kUnitFailed, message);
}

} // namespace valve::cli
