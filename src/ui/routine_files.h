#pragma once

#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

class QAction;
class QPoint;
class QWidget;

namespace valve::protocol {
class MessageBoxes;
}

namespace valve::ui {

struct MainWindowControls;
class SequencerWiring;

// Routine files for the "Timed Events" tab: "Load routine…" (Ctrl+O) and
// "Save routine…" (Ctrl+S) in a context menu on the tab, the shortcuts working
// only while the tab is shown. A file is checked whole before the table takes
// it; a table in use by a run takes none. Saving replaces a file only once
// all of it is written.
class RoutineFiles : public QObject {
    Q_OBJECT
public:
    RoutineFiles(QWidget& window, const MainWindowControls& controls, SequencerWiring& sequencer,
                 protocol::MessageBoxes& boxes);

    // Fills the table from the routine file at `path`, or tells why not and
    // leaves the table as it was.
    QCoro::Task<> load(QString path);
    // Saves the table as a routine file at `path`, or tells why not.
    QCoro::Task<> save(QString path);

private:
    QCoro::Task<> askAndLoad();
    QCoro::Task<> askAndSave();
    void showMenu(const QPoint& at);

    QWidget& window_;
    const MainWindowControls& controls_;
    SequencerWiring& sequencer_;
    protocol::MessageBoxes& boxes_;
    QAction* load_;
    QAction* save_;
    QString lastPath_; // the file last loaded or saved: the dialogs start there
};

} // namespace valve::ui
