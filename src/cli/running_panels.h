#pragma once

#include "adapter_choice.h"
#include "remote/panel_client.h"
#include "remote/socket_directory.h"

#include <memory>
#include <qcoro/qcorotask.h>
#include <vector>

namespace valve::cli {

// The panels running for this user, one socket each in the runtime
// directory, as they answered: each with the adapter it holds and the
// connection, kept open for a command, or with why it would not serve.
class RunningPanels {
public:
    // Asks at every panel socket there is; works the directory out once.
    QCoro::Task<> ask();

    [[nodiscard]] const std::vector<SeenPanel>& seen() const { return seen_; }
    // The adapters of the panels that answered, in their order.
    [[nodiscard]] QStringList held() const;
    // The first answering panel that holds `adapter`; -1 when none does.
    [[nodiscard]] int holding(const QString& adapter) const;
    [[nodiscard]] remote::PanelClient& client(int index) {
        return *clients_.at(static_cast<std::size_t>(index));
    }
    // Why no panel was seen: where nothing listens, or why there is no place
    // to look.
    [[nodiscard]] QString absence() const;

private:
    remote::SocketDirectory directory_;
    std::vector<SeenPanel> seen_;
    std::vector<std::unique_ptr<remote::PanelClient>> clients_; // index for index with seen_
};

} // namespace valve::cli
