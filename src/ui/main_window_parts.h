#pragma once

class QWidget;

namespace valve::ui {

struct MainWindowControls;

// Builders of the main window's regions, one file each. Each places its
// controls on `parent` and records them in `controls`.
void buildPositionTab(QWidget* parent, MainWindowControls& controls);
void buildConfigurationTab(QWidget* parent, MainWindowControls& controls);
void buildTimedEventsTab(QWidget* parent, MainWindowControls& controls);
void buildInternalFrame(QWidget* parent, MainWindowControls& controls);

} // namespace valve::ui
