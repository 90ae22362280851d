#include "panel_remote.h"

#include "main_window_controls.h"
#include "remote/panel_server.h"
#include "routine_table.h"
#include "sequencer/sequencer.h"
#include "sequencer_wiring.h"

#include <QPushButton>
#include <QTabWidget>

namespace valve::ui {

PanelRemote::PanelRemote(protocol::Session& session, const MainWindowControls& controls,
                         SequencerWiring& sequencer)
    : controls_(controls), sequencer_(sequencer),
      server_(std::make_unique<remote::PanelServer>(session, *this)) {
    connect(&sequencer_, &SequencerWiring::stepReported, this, &RoutineHost::stepReported);
    connect(&sequencer_, &SequencerWiring::runEnded, this, &RoutineHost::routineEnded);
}

PanelRemote::~PanelRemote() = default;

bool PanelRemote::listen(const QString& path, QString* error) {
    return server_->listen(path, error);
}

bool PanelRemote::startRoutine(const std::vector<sequencer::RoutineStep>& steps) {
    // "Run" is disabled while a run is under way, and after a failed move
    // until "Stop": the table is the operator's then.
    if (!controls_.btnRun->isEnabled() || sequencer_.sequencer().runUnderWay()) {
        return false;
    }
    controls_.tabNR->setCurrentWidget(controls_.timedEventsPage);
    fillEventTable(controls_, steps);
    controls_.btnRun->click();
    return true;
}

void PanelRemote::stopRoutine() {
    controls_.btnStop->click();
}

} // namespace valve::ui
