#include "panel_remote.h"

#include "main_window_controls.h"
#include "remote/panel_server.h"
#include "routine_table.h"
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

bool PanelRemote::listen(const QString& directory, QString* error) {
    return server_->listen(directory, error);
}

bool PanelRemote::startRoutine(const std::vector<sequencer::RoutineStep>& steps) {
    if (sequencer_.tableInUse()) {
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
