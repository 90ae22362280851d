#pragma once

#include "sequencer/journal_format.h"

#include <QChartView>
#include <QList>
#include <QPointF>
#include <utility>

namespace valve::ui {

// The chart of one run: the valve's position over the run's seconds, the
// steps as planned against the moves as sent, each sent move's deviation on
// hover, the hold-ups while the computer slept, and where a run without an
// end stopped for now.
class RunChart : public QChartView {
    Q_OBJECT
public:
    explicit RunChart(QWidget* parent = nullptr);

    // Draws `journal` in place of what was shown; `state` names an unfinished end.
    void draw(const sequencer::Journal& journal, const QString& state);
    void clear();

    // What hovering over the sent move at `point` tells; empty elsewhere.
    [[nodiscard]] QString tipAt(QPointF point) const;

private:
    void addSteps(const sequencer::Journal& journal);
    void addMarks(const sequencer::Journal& journal, const QString& state);
    void addAxes(double lastSecond);

    QList<std::pair<QPointF, QString>> tips_; // each sent move's point and what it tells
};

} // namespace valve::ui
