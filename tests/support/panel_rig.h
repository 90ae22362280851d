#pragma once

#include "coro_test.h"
#include "link/usb_link.h"
#include "operator_hands.h"
#include "prompt_doubles.h"
#include "record/event_log.h"
#include "sim/simulated_driver.h"
#include "ui/main_window.h"
#include "ui/panel.h"

#include <QPushButton>
#include <memory>

namespace valve::testing {

// The whole panel on simulated adapters (instant units unless told), with
// prompts that answer at once. startClean() starts it and empties the records.
template <typename Driver = sim::SimulatedDriver> class BasicPanelRig {
public:
    explicit BasicPanelRig(const QList<QByteArray>& adapters = {"NR Valve"},
                           sim::UnitTiming timing = sim::UnitTiming::instant(),
                           link::LinkTiming linkTiming = {std::chrono::milliseconds{150},
                                                          std::chrono::milliseconds{10},
                                                          std::chrono::milliseconds{1}},
                           protocol::MessageBoxes* messageBoxes = nullptr,
                           sequencer::RunSupport runSupport = {}) {
        driver.setWireRecordEnabled(true);
        for (const QByteArray& description : adapters) {
            driver.addAdapter(description, timing);
        }
        panel = std::make_unique<ui::Panel>(
            driver, linkTiming, ui::PanelPrompts{messageBoxes ? messageBoxes : &boxes, &chooser}, runSupport);
    }

    bool startClean() {
        if (!await(panel->start())) {
            return false;
        }
        clearRecords();
        return true;
    }
    void clearRecords() {
        panel->log().clear();
        driver.wire(0).clear();
        driver.clearCallLog();
        boxes.texts.clear();
    }

    ui::MainWindow& window() { return panel->window(); }
    // A control of the main window or of an open Custom Configuration window by its name.
    template <typename T> T* child(const QString& name) {
        T* found = window().template findChild<T*>(name);
        return found == nullptr && form() != nullptr ? form()->template findChild<T*>(name) : found;
    }
    ui::CustomConfigWindow* form() { return openForms().value(0); }
    const ui::MainWindowControls& c() { return panel->window().controls(); }
    QStringList log() { return panel->log().lines(); }
    QList<QByteArray> sent() { return driver.wire(0).hostLines(); }
    sim::SimulatedUnit& sim() { return driver.unit(0); }
    sim::UnitState& unit() { return driver.unit(0).state(); }
    bool idle() { return !panel->link().operations().busy(); }

    Driver driver;
    ScriptedBoxes boxes;
    PickingChooser chooser;
    std::unique_ptr<ui::Panel> panel;
};

using PanelRig = BasicPanelRig<>;

} // namespace valve::testing
