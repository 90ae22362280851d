#pragma once

#include "remote/routine_host.h"

#include <QString>
#include <memory>

namespace valve::protocol {
struct Session;
}

namespace valve::remote {
class PanelServer;
}

namespace valve::ui {

struct MainWindowControls;
class SequencerWiring;

// valvectl's way into the running panel: the local socket, and the panel's
// Timed Events table lent to it for routines.
class PanelRemote : public remote::RoutineHost {
public:
    PanelRemote(protocol::Session& session, const MainWindowControls& controls, SequencerWiring& sequencer);
    ~PanelRemote() override;

    // Listens in `directory`; false, with the reason in `error`, when it cannot.
    bool listen(const QString& directory, QString* error);
    [[nodiscard]] remote::PanelServer& server() { return *server_; }

    bool startRoutine(const std::vector<sequencer::RoutineStep>& steps) override;
    void stopRoutine() override;
    [[nodiscard]] QList<record::LogLine> routineLines() const override;
    [[nodiscard]] remote::RoutineState routineState() const override;

private:
    const MainWindowControls& controls_;
    SequencerWiring& sequencer_;
    std::unique_ptr<remote::PanelServer> server_;
};

} // namespace valve::ui
