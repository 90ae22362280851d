#pragma once

#include "coro_test.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"
#include "sim/simulated_driver.h"
#include "ui/main_window.h"
#include "ui/panel.h"

#include <QPushButton>
#include <memory>

namespace valve::testing {

// The whole panel on simulated adapters (instant units), with prompts that
// answer at once. startClean() runs the start-up and then empties the log,
// the wire and the driver's call log.
class PanelRig {
public:
    explicit PanelRig(const QList<QByteArray>& adapters = {"NR Valve"},
                      sim::UnitTiming timing = sim::UnitTiming::instant()) {
        for (const QByteArray& description : adapters) {
            driver.addAdapter(description, timing);
        }
        panel = std::make_unique<ui::Panel>(driver,
                                            link::LinkTiming{std::chrono::milliseconds{150},
                                                             std::chrono::milliseconds{10},
                                                             std::chrono::milliseconds{1}},
                                            ui::PanelPrompts{&boxes, &chooser});
    }

    bool startClean() {
        if (!await(panel->start())) {
            return false;
        }
        panel->log().clear();
        driver.wire(0).clear();
        driver.clearCallLog();
        return true;
    }

    ui::MainWindow& window() { return panel->window(); }
    const ui::MainWindowControls& c() { return panel->window().controls(); }
    QStringList log() { return panel->log().lines(); }
    QList<QByteArray> sent() { return driver.wire(0).hostLines(); }
    sim::UnitState& unit() { return driver.unit(0).state(); }
    bool idle() { return !panel->link().operations().busy(); }
    qsizetype writes() const { return driver.callTexts().filter("FT_Write").size(); }

    // Clicks and runs until `lines` requests have gone out and the link is free.
    bool click(QPushButton* button, qsizetype lines) {
        button->click();
        return runUntil([&] { return sent().size() >= lines && idle(); });
    }

    sim::SimulatedDriver driver;
    ScriptedBoxes boxes;
    PickingChooser chooser;
    std::unique_ptr<ui::Panel> panel;
};

} // namespace valve::testing
