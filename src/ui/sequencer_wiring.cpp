#include "sequencer_wiring.h"

#include "main_window_controls.h"
#include "routine_table.h"
#include "sequencer/event_table.h"
#include "sequencer/sequencer.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <array>

namespace valve::ui {

namespace {
template <typename Widget> void setBold(Widget* widget, bool bold) {
    QFont font = widget->font();
    font.setBold(bold);
    widget->setFont(font);
}
} // namespace

// The tab's widgets as the sequencer's table. Widgets that have gone read as
// empty and take no change.
class SequencerWiring::TabView : public sequencer::EventTableView {
public:
    TabView(const MainWindowControls& c, SequencerWiring& wiring)
        : wiring_(wiring), position_(c.position), run_(c.btnRun), stop_(c.btnStop) {
        for (int row = 0; row < sequencer::kEventRows; ++row) {
            labels_[row] = c.lblEventNo[row];
            times_[row] = c.txtTime[row];
            positions_[row] = c.txtPos[row];
        }
    }

    [[nodiscard]] QString timeText(int row) const override {
        return times_[row] ? times_[row]->text() : QString{};
    }
    [[nodiscard]] QString positionText(int row) const override {
        return positions_[row] ? positions_[row]->text() : QString{};
    }
    void setRowLook(int row, sequencer::RowLook look) override {
        const bool reached = look != sequencer::RowLook::Idle;
        const bool done = look == sequencer::RowLook::Done;
        if (labels_[row]) {
            setBold(labels_[row].data(), reached);
        }
        if (times_[row]) {
            setBold(times_[row].data(), reached);
            times_[row]->setEnabled(!reached);
        }
        if (positions_[row]) {
            setBold(positions_[row].data(), done);
            positions_[row]->setEnabled(!done);
        }
    }
    [[nodiscard]] bool runEnabled() const { return run_ && run_->isEnabled(); }
    void setRunEnabled(bool enabled) override {
        if (run_) {
            run_->setEnabled(enabled);
        }
    }
    void setStopEnabled(bool enabled) override {
        if (stop_) {
            stop_->setEnabled(enabled);
        }
    }
    void setCurrentPosition(const QString& text) override {
        if (position_) {
            position_->setText(text);
        }
    }
    void reportStep(const sequencer::StepReport& report) override { emit wiring_.stepReported(report); }

private:
    SequencerWiring& wiring_;
    std::array<QPointer<QLabel>, sequencer::kEventRows> labels_;
    std::array<QPointer<QLineEdit>, sequencer::kEventRows> times_;
    std::array<QPointer<QLineEdit>, sequencer::kEventRows> positions_;
    QPointer<QLineEdit> position_;
    QPointer<QPushButton> run_;
    QPointer<QPushButton> stop_;
};

SequencerWiring::SequencerWiring(const MainWindowControls& controls, protocol::Session& session,
                                 QObject* parent, sequencer::RunSupport runSupport)
    : QObject(parent), view_(std::make_unique<TabView>(controls, *this)),
      sequencer_(std::make_unique<sequencer::Sequencer>(session, *view_, runSupport)), controls_(controls) {
    // A click only starts the run; it goes on by itself until it ends.
    connect(controls.btnRun, &QPushButton::clicked, this, [this] { run(); });
    connect(controls.btnStop, &QPushButton::clicked, this, [this] { sequencer_->btnStop_Click(); });
    for (int row = 0; row < sequencer::kEventRows; ++row) {
        controls.txtTime[row]->installEventFilter(this);
        controls.txtPos[row]->installEventFilter(this);
    }
    if (parent != nullptr && parent->isWidgetType()) {
        parent->installEventFilter(this); // to see the window close
    }
}

// The run's state outlives this object; the sequencer ends it quietly here.
SequencerWiring::~SequencerWiring() {
    *alive_ = false;
    sequencer_.reset();
}

bool SequencerWiring::tableInUse() const {
    return sequencer_->runUnderWay() || !view_->runEnabled();
}

void SequencerWiring::routineLoaded(const QString& path) {
    loadedPath_ = path;
    loadedRows_ = eventTableRows(controls_);
}

QCoro::Task<> SequencerWiring::run() {
    const std::shared_ptr<bool> alive = alive_;
    // A table left as its routine file filled it is that routine; one a front
    // end filled has said what it is already.
    const auto same = [](const sequencer::TableRow& a, const sequencer::TableRow& b) {
        return a.time == b.time && a.position == b.position;
    };
    const auto rows = eventTableRows(controls_);
    if (!sequencer_->nextRunTold() && !loadedPath_.isEmpty() &&
        std::equal(rows.begin(), rows.end(), loadedRows_.begin(), loadedRows_.end(), same)) {
        sequencer_->setNextRun({sequencer::kFromWindow, loadedPath_, {}, {}});
    }
    if (!sequencer_->runUnderWay()) { // else the press does nothing
        ++runNumber_;
        runPressed_ = QDateTime::currentDateTime();
    }
    const sequencer::RunEnd end = co_await sequencer_->btnRun_Click();
    if (*alive) {
        emit runEnded(end);
    }
}

bool SequencerWiring::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched == parent()) {
        sequencer_->shut_down();
    } else if (event->type() == QEvent::FocusIn) {
        if (auto* box = qobject_cast<QLineEdit*>(watched)) {
            // Typing replaces the whole text. A mouse click places the cursor
            // after the focus arrives, so the selection is made again after it.
            box->selectAll();
            QTimer::singleShot(0, box, [box] { box->selectAll(); });
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace valve::ui
