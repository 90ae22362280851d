#include "run_chart.h"

#include <QCursor>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>

namespace valve::ui {

namespace {

// A series drawn as steps: level from each point to the next.
void stepTo(QLineSeries& series, double x, double y) {
    if (series.count() > 0) {
        series.append(x, series.at(series.count() - 1).y());
    }
    series.append(x, y);
}

QScatterSeries* marks(const QString& name, QScatterSeries::MarkerShape shape, double size) {
    auto* series = new QScatterSeries;
    series->setName(name);
    series->setMarkerShape(shape);
    series->setMarkerSize(size);
    return series;
}

// The seconds from the start at which the journal last heard of the run.
double lastSecond(const sequencer::Journal& journal) {
    double last = journal.header.steps.isEmpty() ? 0.0 : journal.header.steps.last().seconds;
    for (const sequencer::StepRecord& step : journal.steps) {
        last = std::max(last, step.sentMs / 1000.0);
    }
    return last;
}

} // namespace

RunChart::RunChart(QWidget* parent) : QChartView(new QChart, parent) {
    setRenderHint(QPainter::Antialiasing);
    chart()->legend()->setAlignment(Qt::AlignBottom);
    setMinimumSize(480, 280);
}

void RunChart::clear() {
    chart()->removeAllSeries();
    for (QAbstractAxis* axis : chart()->axes()) {
        chart()->removeAxis(axis);
        delete axis;
    }
    tips_.clear();
}

void RunChart::draw(const sequencer::Journal& journal, const QString& state) {
    clear();
    addSteps(journal);
    addMarks(journal, state);
    addAxes(lastSecond(journal));
}

QString RunChart::tipAt(QPointF point) const {
    for (const auto& [at, tip] : tips_) {
        if (at == point) { // fuzzy: the hovered point comes back through the chart
            return tip;
        }
    }
    return {};
}

void RunChart::addSteps(const sequencer::Journal& journal) {
    auto* planned = new QLineSeries;
    planned->setName(QStringLiteral("planned"));
    // Wide and pale beneath the moves, so that a move on time lies on it and one late shows beside it.
    QPen wide(QColor(70, 130, 220, 110), 7);
    planned->setPen(wide);
    for (const sequencer::PlannedStep& step : journal.header.steps) {
        stepTo(*planned, step.seconds, step.position);
    }
    auto* actual = new QLineSeries;
    actual->setName(QStringLiteral("sent"));
    actual->setPen(QPen(QColor(30, 140, 60), 2));
    QScatterSeries* moves =
        marks(QStringLiteral("move (hover: deviation)"), QScatterSeries::MarkerShapeCircle, 8);
    for (const sequencer::StepRecord& step : journal.steps) {
        const QPointF point(step.sentMs / 1000.0, step.reported.value_or(step.position));
        stepTo(*actual, point.x(), point.y());
        moves->append(point);
        QString tip = QStringLiteral("step %1: position %2, deviation %3 ms")
                          .arg(step.step + 1)
                          .arg(step.position)
                          .arg(QString::number(step.deviationMs(), 'f', 2));
        if (!step.answered) {
            tip += QStringLiteral(", no answer");
        } else if (!step.reached) {
            tip += QStringLiteral(", not reached");
        }
        tips_.append({point, tip});
    }
    connect(moves, &QScatterSeries::hovered, this, [this](const QPointF& point, bool state) {
        if (state) {
            QToolTip::showText(QCursor::pos(), tipAt(point), this);
        } else {
            QToolTip::hideText();
        }
    });
    chart()->addSeries(planned);
    chart()->addSeries(actual);
    chart()->addSeries(moves);
}

void RunChart::addMarks(const sequencer::Journal& journal, const QString& state) {
    const QList<sequencer::PlannedStep>& steps = journal.header.steps;
    if (!journal.holdUps.isEmpty()) {
        QScatterSeries* held =
            marks(QStringLiteral("held up (computer asleep)"), QScatterSeries::MarkerShapeTriangle, 14);
        for (const sequencer::HoldUp& holdUp : journal.holdUps) {
            const int i = std::clamp(holdUp.step, 0, static_cast<int>(steps.size()) - 1);
            held->append(steps.value(i).seconds, steps.value(std::max(i - 1, 0)).position);
        }
        chart()->addSeries(held);
    }
    if (!journal.end) {
        QScatterSeries* unfinished = marks(state, QScatterSeries::MarkerShapeRectangle, 14);
        const double position = journal.steps.isEmpty()
                                    ? steps.value(0).position
                                    : journal.steps.last().reported.value_or(journal.steps.last().position);
        const double second = journal.steps.isEmpty() ? 0.0 : journal.steps.last().sentMs / 1000.0;
        unfinished->append(second, position);
        chart()->addSeries(unfinished);
    }
}

void RunChart::addAxes(double lastSecond) {
    auto* seconds = new QValueAxis;
    seconds->setTitleText(QStringLiteral("seconds from the start"));
    seconds->setRange(0.0, std::max(1.0, lastSecond * 1.05));
    seconds->applyNiceNumbers();
    auto* position = new QValueAxis;
    position->setTitleText(QStringLiteral("position"));
    position->setLabelFormat(QStringLiteral("%d"));
    double top = 1.0;
    for (QAbstractSeries* series : chart()->series()) {
        for (const QPointF& point : static_cast<QXYSeries*>(series)->points()) {
            top = std::max(top, point.y());
        }
    }
    position->setRange(0.0, top + 1.0);
    position->setTickType(QValueAxis::TicksDynamic);
    position->setTickInterval(1.0);
    position->setTickAnchor(0.0);
    chart()->addAxis(seconds, Qt::AlignBottom);
    chart()->addAxis(position, Qt::AlignLeft);
    for (QAbstractSeries* series : chart()->series()) {
        series->attachAxis(seconds);
        series->attachAxis(position);
    }
}

} // namespace valve::ui
