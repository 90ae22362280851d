#include "routine_files.h"

#include "main_window_controls.h"
#include "protocol/message_boxes.h"
#include "record/saved_file.h"
#include "routine_table.h"
#include "save_dialog.h"
#include "sequencer/routine_file.h"
#include "sequencer_wiring.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QPointer>

namespace valve::ui {

namespace {

const QString kFilter = QStringLiteral("Routine files (*.routine *.txt);;All files (*)");
const QString kTableInUse =
    QStringLiteral("Could not load a routine while a run holds the Timed Events table. Press Stop first.");

QString cannotSave(const sequencer::RoutineRead& routine) {
    return QStringLiteral("Could not save the table as a routine: %1.").arg(routine.error);
}

QAction* addAction(QWidget* tab, const QString& name, const QString& text, const QKeySequence& keys) {
    auto* action = new QAction(text, tab);
    action->setObjectName(name);
    action->setShortcut(keys);
    tab->addAction(action); // an action of the tab's page: its shortcut works only while the page is shown
    return action;
}

} // namespace

RoutineFiles::RoutineFiles(QWidget& window, const MainWindowControls& controls, SequencerWiring& sequencer,
                           protocol::MessageBoxes& boxes)
    : QObject(&window), window_(window), controls_(controls), sequencer_(sequencer), boxes_(boxes) {
    QWidget* tab = controls_.timedEventsPage;
    load_ = addAction(tab, QStringLiteral("mnuLoadRoutine"), QStringLiteral("Load routine…"),
                      QKeySequence(Qt::CTRL | Qt::Key_O));
    save_ = addAction(tab, QStringLiteral("mnuSaveRoutine"), QStringLiteral("Save routine…"),
                      QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(load_, &QAction::triggered, this, [this] { askAndLoad(); });
    connect(save_, &QAction::triggered, this, [this] { askAndSave(); });
    tab->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tab, &QWidget::customContextMenuRequested, this, &RoutineFiles::showMenu);
}

void RoutineFiles::showMenu(const QPoint& at) {
    // popup(), not exec(): the menu needs no event loop of its own.
    auto* menu = new QMenu(controls_.timedEventsPage);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addActions({load_, save_});
    menu->popup(controls_.timedEventsPage->mapToGlobal(at));
}

QCoro::Task<> RoutineFiles::load(QString path) {
    lastPath_ = path;
    if (sequencer_.tableInUse()) {
        co_await boxes_.message_box(kTableInUse);
        co_return;
    }
    const sequencer::RoutineRead read = sequencer::readRoutineFile(path);
    if (!read.ok()) {
        co_await boxes_.message_box(
            QStringLiteral("Could not load the routine: %1. The table is left as it was.").arg(read.error));
        co_return;
    }
    fillEventTable(controls_, read.steps);
    sequencer_.routineLoaded(path);
}

QCoro::Task<> RoutineFiles::save(QString path) {
    lastPath_ = path;
    const sequencer::RoutineRead routine = sequencer::routineFromTable(eventTableRows(controls_));
    if (!routine.ok()) {
        co_await boxes_.message_box(cannotSave(routine));
        co_return;
    }
    // Named, not a temporary of the co_await: GCC 12 destroys such a lambda twice.
    const FileSaver saveText = [text = sequencer::formatRoutine(routine.steps)](const QString& to) {
        return record::saveWholeFile(to, text);
    };
    co_await saveOrTell(path, saveText, boxes_);
}

QCoro::Task<> RoutineFiles::askAndLoad() {
    // Checked before the dialog too, so that no file is chosen in vain.
    if (sequencer_.tableInUse()) {
        co_await boxes_.message_box(kTableInUse);
        co_return;
    }
    const QPointer<RoutineFiles> self(this);
    const QString start = lastPath_.isEmpty() ? QDir::homePath() : lastPath_;
    const QString path = co_await askForFile(&window_, QStringLiteral("Load routine"), start, kFilter,
                                             QFileDialog::AcceptOpen);
    if (self && !path.isEmpty()) {
        co_await load(path);
    }
}

QCoro::Task<> RoutineFiles::askAndSave() {
    // A table that no file could hold is refused before a name is asked for.
    if (const auto routine = sequencer::routineFromTable(eventTableRows(controls_)); !routine.ok()) {
        co_await boxes_.message_box(cannotSave(routine));
        co_return;
    }
    const QPointer<RoutineFiles> self(this);
    const QString start =
        lastPath_.isEmpty() ? QDir::home().filePath(QStringLiteral("timed-events.routine")) : lastPath_;
    const QString path = co_await askForFile(&window_, QStringLiteral("Save routine"), start, kFilter,
                                             QFileDialog::AcceptSave);
    if (self && !path.isEmpty()) {
        co_await save(path);
    }
}

} // namespace valve::ui
