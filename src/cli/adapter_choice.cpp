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

bool heldByPanel(const link::AdapterInfo& adapter, const std::optional<QString>& panelAdapter) {
    return adapter.openElsewhere && panelAdapter && !panelAdapter->isEmpty() &&
           QString::fromLocal8Bit(adapter.description) == *panelAdapter;
}

// The adapter to open, or to reach through the panel; refused when it cannot
// be told apart from another free one with the same description.
AdapterChoice take(const link::AdapterInfo& adapter, const QList<link::AdapterInfo>& adapters,
                   const std::optional<QString>& panelAdapter) {
    if (heldByPanel(adapter, panelAdapter)) {
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
                            const QString& serial, const std::optional<QString>& panelAdapter) {
    if (!device.isEmpty() || !serial.isEmpty()) {
        const bool bySerial = !serial.isEmpty();
        QList<link::AdapterInfo> matches;
        for (const link::AdapterInfo& adapter : adapters) {
            const QByteArray& key = bySerial ? adapter.serialNumber : adapter.description;
            if (QString::fromLocal8Bit(key) == (bySerial ? serial : device)) {
                matches << adapter;
            }
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
                return take(adapter, adapters, panelAdapter);
            }
        }
        return take(matches.front(), adapters, panelAdapter);
    }

    QList<link::AdapterInfo> candidates;
    for (const link::AdapterInfo& adapter : adapters) {
        if (!adapter.openElsewhere || heldByPanel(adapter, panelAdapter)) {
            candidates << adapter;
        }
    }
    if (candidates.size() == 1) {
        return take(candidates.front(), adapters, panelAdapter);
    }
    if (candidates.isEmpty()) {
        QString message = QStringLiteral("Error - Could not find any Nerra Devices through USB");
        if (!adapters.isEmpty()) {
            message += QStringLiteral(" (%1 open in other programs)").arg(adapters.size());
        }
        if (panelAdapter && !panelAdapter->isEmpty()) {
            message +=
                QStringLiteral("\na panel is running with %1: reach it with --panel").arg(*panelAdapter);
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

} // namespace valve::cli
