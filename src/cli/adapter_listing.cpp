#include "adapter_listing.h"

#include <QJsonArray>
#include <algorithm>

namespace valve::cli {

namespace {

struct Entry {
    QString description;
    QString serial;
    bool openElsewhere = false;
    const SeenPanel* panel = nullptr; // the panel that holds it
};

const SeenPanel* holder(const std::vector<SeenPanel>& panels, const QString& description) {
    for (const SeenPanel& panel : panels) {
        if (panel.refusal.isEmpty() && !panel.adapter.isEmpty() && panel.adapter == description) {
            return &panel;
        }
    }
    return nullptr;
}

std::vector<Entry> entries(const QList<link::AdapterInfo>& adapters, const std::vector<SeenPanel>& panels) {
    std::vector<Entry> list;
    std::vector<const SeenPanel*> placed;
    for (const link::AdapterInfo& adapter : adapters) {
        const QString description = QString::fromLocal8Bit(adapter.description);
        const SeenPanel* panel = adapter.openElsewhere ? holder(panels, description) : nullptr;
        list.push_back(
            {description, QString::fromLocal8Bit(adapter.serialNumber), adapter.openElsewhere, panel});
        placed.push_back(panel);
    }
    for (const SeenPanel& panel : panels) {
        if (panel.refusal.isEmpty() && !panel.adapter.isEmpty() &&
            std::find(placed.begin(), placed.end(), &panel) == placed.end()) {
            list.push_back({panel.adapter, {}, true, &panel});
        }
    }
    return list;
}

} // namespace

commands::Outcome adapterListing(const QList<link::AdapterInfo>& adapters,
                                 const std::vector<SeenPanel>& panels, bool panelsOnly) {
    const auto serving = std::count_if(panels.begin(), panels.end(),
                                       [](const SeenPanel& panel) { return panel.refusal.isEmpty(); });
    commands::Outcome outcome;
    QJsonArray list;
    for (const Entry& entry : entries(adapters, panels)) {
        if (panelsOnly && entry.panel == nullptr) {
            continue;
        }
        QJsonObject json{{QStringLiteral("description"), entry.description},
                         {QStringLiteral("serial"), entry.serial},
                         {QStringLiteral("open_elsewhere"), entry.openElsewhere},
                         {QStringLiteral("held_by_panel"), entry.panel != nullptr}};
        QString state = entry.openElsewhere ? QStringLiteral("open elsewhere") : QStringLiteral("free");
        if (entry.panel != nullptr) {
            json.insert(QStringLiteral("panel"), entry.panel->socket);
            state = serving == 1 ? QStringLiteral("held by the running panel")
                                 : QStringLiteral("held by the panel at %1").arg(entry.panel->socket);
        }
        list.append(json);
        const QString serial = entry.serial.isEmpty() ? QStringLiteral("unknown") : entry.serial;
        outcome.out << QStringLiteral("%1\tserial %2\t%3").arg(entry.description, serial, state);
    }
    outcome.values.insert(QStringLiteral("adapters"), list);
    return outcome;
}

} // namespace valve::cli
