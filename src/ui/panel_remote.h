#pragma once

#include "commands/routine_host.h"

#include <QString>
#include <memory>

namespace valve::protocol {
struct Session;
}

namespace valve::commands {
class CommandCore;
}

namespace valve::remote {
class PanelServer;
}

namespace valve::ui {

struct MainWindowControls;
class SequencerWiring;

// The way into the running panel from outside its window: the command core
// on the panel's own session, with the panel's Timed Events table lent to it
// for routines, and the local socket that valvectl reaches it by.
class PanelRemote : public commands::RoutineHost {
public:
    PanelRemote(protocol::Session& session, const MainWindowControls& controls, SequencerWiring& sequencer);
    ~PanelRemote() override;

    // Listens in `directory`; false, with the reason in `error`, when it cannot.
    bool listen(const QString& directory, QString* error);
    [[nodiscard]] remote::PanelServer& server() { return *server_; }
    [[nodiscard]] commands::CommandCore& core() { return *core_; }

    bool startRoutine(const std::vector<sequencer::RoutineStep>& steps, const QString& firstLine,
                      const sequencer::RunContext& context) override;
    void stopRoutine(const QString& by) override;
    [[nodiscard]] QList<record::LogLine> routineLines() const override;
    [[nodiscard]] commands::RoutineState routineState() const override;

private:
    const MainWindowControls& controls_;
    SequencerWiring& sequencer_;
    std::unique_ptr<commands::CommandCore> core_;
    std::unique_ptr<remote::PanelServer> server_; // goes before the core it calls
};

} // namespace valve::ui
