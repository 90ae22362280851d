#pragma once

#include "sequencer/routine_file.h"

#include <QLocale>
#include <vector>

namespace valve::ui {

struct MainWindowControls;

// Puts routine steps into the "Timed Events" table, one row each from the
// first, and empties the rows after them. Times are written in `locale`'s
// number format, the one the table's boxes read.
void fillEventTable(const MainWindowControls& controls, const std::vector<sequencer::RoutineStep>& steps,
                    const QLocale& locale = QLocale());
// The texts of the table's rows, first to last.
std::vector<sequencer::TableRow> eventTableRows(const MainWindowControls& controls);

} // namespace valve::ui
