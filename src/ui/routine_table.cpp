#include "routine_table.h"

#include "main_window_controls.h"

#include <QLineEdit>

namespace valve::ui {

void fillEventTable(const MainWindowControls& controls, const std::vector<sequencer::RoutineStep>& steps,
                    const QLocale& locale) {
    for (std::size_t row = 0; row < controls.txtTime.size(); ++row) {
        const sequencer::TableRow texts =
            row < steps.size() ? sequencer::tableRow(steps[row], locale) : sequencer::TableRow{};
        controls.txtTime[row]->setText(texts.time);
        controls.txtPos[row]->setText(texts.position);
    }
}

std::vector<sequencer::TableRow> eventTableRows(const MainWindowControls& controls) {
    std::vector<sequencer::TableRow> rows;
    for (std::size_t row = 0; row < controls.txtTime.size(); ++row) {
        rows.push_back({controls.txtTime[row]->text(), controls.txtPos[row]->text()});
    }
    return rows;
}

} // namespace valve::ui
