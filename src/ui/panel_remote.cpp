#include "panel_remote.h"

#include "commands/command_core.h"
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
      core_(std::make_unique<commands::CommandCore>(session, *this, commands::CommandCore::Announce::InLog)),
      server_(std::make_unique<remote::PanelServer>(session, *core_)) {
    connect(&sequencer_, &SequencerWiring::stepReported, this, &RoutineHost::stepReported);
    connect(&sequencer_, &SequencerWiring::runEnded, this, &RoutineHost::routineEnded);
}

PanelRemote::~PanelRemote() = default;

bool PanelRemote::listen(const QString& directory, QString* error) {
    return server_->listen(directory, error);
}

bool PanelRemote::startRoutine(const std::vector<sequencer::RoutineStep>& steps, const QString& firstLine,
                               const sequencer::RunContext& context) {
    if (sequencer_.tableInUse()) {
        return false;
    }
    controls_.tabNR->setCurrentWidget(controls_.timedEventsPage);
    fillEventTable(controls_, steps);
    sequencer_.sequencer().announceNextRun(firstLine);
    sequencer_.sequencer().setNextRun(context);
    controls_.btnRun->click();
    return true;
}

void PanelRemote::stopRoutine(const QString& by) {
    sequencer_.sequencer().stopFor(by); // as a click on "Stop", in the name of `by`
}

commands::RoutineState PanelRemote::routineState() const {
    using Phase = commands::RoutineState::Phase;
    const Phase phase = sequencer_.sequencer().runUnderWay() ? Phase::Running
                        : sequencer_.tableInUse()            ? Phase::Held
                                                             : Phase::Idle;
    return {phase, sequencer_.runNumber(), sequencer_.runPressed(), sequencer_.sequencer().lastJournalId()};
}

QList<record::LogLine> PanelRemote::routineLines() const {
    const record::OperationLines* lines = sequencer_.sequencer().runLines();
    return lines != nullptr ? lines->lines() : QList<record::LogLine>{};
}

} // namespace valve::ui
