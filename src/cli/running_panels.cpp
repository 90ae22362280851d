#include "running_panels.h"

#include <QFileInfo>

namespace valve::cli {

QCoro::Task<> RunningPanels::ask() {
    directory_ = remote::socketDirectory();
    if (directory_.path.isEmpty()) {
        co_return;
    }
    using Kind = remote::PanelClient::Answer::Kind;
    for (int slot = 1; slot <= remote::kMaxPanels; ++slot) {
        const QString path = remote::panelSocketPath(directory_.path, slot);
        if (!QFileInfo::exists(path)) {
            continue;
        }
        auto client = std::make_unique<remote::PanelClient>();
        const remote::PanelClient::Answer answer = co_await client->open(path);
        if (answer.kind == Kind::Nothing) {
            continue; // left behind by a panel that ended without cleaning up
        }
        const bool serves = answer.kind == Kind::Panel;
        seen_.push_back({path, serves ? answer.text : QString(), serves ? QString() : answer.text});
        clients_.push_back(std::move(client));
    }
}

QStringList RunningPanels::held() const {
    QStringList adapters;
    for (const SeenPanel& panel : seen_) {
        if (panel.refusal.isEmpty()) {
            adapters << panel.adapter;
        }
    }
    return adapters;
}

int RunningPanels::holding(const QString& adapter) const {
    for (std::size_t index = 0; index < seen_.size(); ++index) {
        if (seen_[index].refusal.isEmpty() && seen_[index].adapter == adapter) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

QString RunningPanels::absence() const {
    if (directory_.path.isEmpty()) {
        return QStringLiteral("no running panel: ") + directory_.problem;
    }
    QString message = QStringLiteral("no running panel: nothing listens in %1").arg(directory_.path);
    if (!directory_.note.isEmpty()) {
        message += QStringLiteral(" (%1)").arg(directory_.note);
    }
    return message;
}

} // namespace valve::cli
