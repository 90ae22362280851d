#pragma once

#include "coro_test.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"
#include "sequencer/sequencer.h"
#include "sim/simulated_driver.h"
#include "ui/custom_config_window.h"
#include "ui/main_window.h"
#include "ui/main_window_controls.h"
#include "ui/panel.h"
#include "ui/sequencer_wiring.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace valve::testing::matrix {

using namespace std::chrono_literals;

// One driver call made to fail at a chosen point of a command. Exchanges are
// counted by the command's writes from the moment the fault is armed, reply
// characters by the bytes read since that exchange's write. `exchange` -1
// means the first call of that kind after arming (the link probe, a reopen).
struct CallFault {
    sim::DriverCall call;
    link::FtStatus status;
    int exchange = -1;
    int character = 0;
    bool keepByte = false; // FT_Read only: read the byte as usual, return `status` with it
    bool fired = false;
};

// The simulated driver with faults aimed at one exchange or reply character
// of a command, and hooks around every write, so that unit faults can be set
// up for exactly one request.
class TargetedDriver : public sim::SimulatedDriver {
public:
    std::vector<CallFault> faults;
    std::function<void(int)> beforeWrite; // argument: index of the write since arming
    std::function<void(int)> afterWrite;

    void arm() {
        writes_ = 0;
        reads_ = 0;
    }
    void disarm() {
        faults.clear();
        beforeWrite = nullptr;
        afterWrite = nullptr;
    }
    [[nodiscard]] std::size_t fired() const {
        return std::count_if(faults.begin(), faults.end(), [](const CallFault& f) { return f.fired; });
    }

    link::FtStatus write(link::FtHandle handle, const void* buffer, std::uint32_t bytesToWrite,
                         std::uint32_t& bytesWritten) override {
        const int index = writes_++;
        reads_ = 0;
        if (beforeWrite) {
            beforeWrite(index);
        }
        const auto injected = take(sim::DriverCall::Write, index, 0, false);
        bytesWritten = 0;
        const link::FtStatus status =
            injected ? *injected : SimulatedDriver::write(handle, buffer, bytesToWrite, bytesWritten);
        if (afterWrite) {
            afterWrite(index);
        }
        return status;
    }

    link::FtStatus read(link::FtHandle handle, void* buffer, std::uint32_t bytesToRead,
                        std::uint32_t& bytesRead) override {
        if (const auto injected = take(sim::DriverCall::Read, writes_ - 1, reads_, false)) {
            bytesRead = 0;
            return *injected;
        }
        link::FtStatus status = SimulatedDriver::read(handle, buffer, bytesToRead, bytesRead);
        if (bytesRead > 0) {
            if (const auto injected = take(sim::DriverCall::Read, writes_ - 1, reads_, true)) {
                status = *injected;
            }
            reads_ += static_cast<int>(bytesRead);
        }
        return status;
    }

    link::FtStatus getQueueStatus(link::FtHandle handle, std::uint32_t& rxBytes) override {
        const auto injected = take(sim::DriverCall::GetQueueStatus, writes_ - 1, reads_, false);
        return injected ? *injected : SimulatedDriver::getQueueStatus(handle, rxBytes);
    }

    // The calls below fail at the first of their kind after arming.
    link::FtStatus setFlowControl(link::FtHandle handle, std::uint16_t flowControl, std::uint8_t xon,
                                  std::uint8_t xoff) override {
        return orFirst(sim::DriverCall::SetFlowControl,
                       [&] { return SimulatedDriver::setFlowControl(handle, flowControl, xon, xoff); });
    }
    link::FtStatus createDeviceInfoList(std::uint32_t& count) override {
        return orFirst(sim::DriverCall::CreateDeviceInfoList,
                       [&] { return SimulatedDriver::createDeviceInfoList(count); });
    }
    link::FtStatus setBaudRate(link::FtHandle handle, std::uint32_t baudRate) override {
        return orFirst(sim::DriverCall::SetBaudRate,
                       [&] { return SimulatedDriver::setBaudRate(handle, baudRate); });
    }
    link::FtStatus setDataCharacteristics(link::FtHandle handle, std::uint8_t wordLength,
                                          std::uint8_t stopBits, std::uint8_t parity) override {
        return orFirst(sim::DriverCall::SetDataCharacteristics, [&] {
            return SimulatedDriver::setDataCharacteristics(handle, wordLength, stopBits, parity);
        });
    }
    link::FtStatus setTimeouts(link::FtHandle handle, std::uint32_t readTimeoutMs,
                               std::uint32_t writeTimeoutMs) override {
        return orFirst(sim::DriverCall::SetTimeouts,
                       [&] { return SimulatedDriver::setTimeouts(handle, readTimeoutMs, writeTimeoutMs); });
    }
    // A failing close leaves the adapter open.
    link::FtStatus close(link::FtHandle handle) override {
        return orFirst(sim::DriverCall::Close, [&] { return SimulatedDriver::close(handle); });
    }
    link::FtStatus openEx(const char* description, std::uint32_t flags, link::FtHandle& handle) override {
        return orFirst(sim::DriverCall::OpenEx,
                       [&] { return SimulatedDriver::openEx(description, flags, handle); });
    }
    // The purge is carried out either way; only its status is bad.
    link::FtStatus purge(link::FtHandle handle, std::uint32_t mask) override {
        const link::FtStatus status = SimulatedDriver::purge(handle, mask);
        return takeFirst(sim::DriverCall::Purge).value_or(status);
    }

private:
    std::optional<link::FtStatus> take(sim::DriverCall call, int exchange, int character, bool keepByte) {
        for (CallFault& fault : faults) {
            if (!fault.fired && fault.call == call && fault.exchange >= 0 && fault.exchange == exchange &&
                fault.character == character && fault.keepByte == keepByte) {
                fault.fired = true;
                return fault.status;
            }
        }
        return std::nullopt;
    }
    template <typename Call> link::FtStatus orFirst(sim::DriverCall call, Call real) {
        const auto injected = takeFirst(call);
        return injected ? *injected : real();
    }
    std::optional<link::FtStatus> takeFirst(sim::DriverCall call) {
        for (CallFault& fault : faults) {
            if (!fault.fired && fault.call == call && fault.exchange < 0) {
                fault.fired = true;
                return fault.status;
            }
        }
        return std::nullopt;
    }

    int writes_ = 0;
    int reads_ = 0;
};

// What the unit holds at the start of every case; the read commands show
// these values when nothing goes wrong.
inline sim::UnitState presetUnitState() {
    sim::UnitState state;
    state.position = 5;
    state.lastError = 66;
    state.revision = 'B';
    state.opMode = 3;
    state.commandMode = 4;
    state.portPositions = {7, 8, 9};
    state.memory[0x20] = 20;
    const std::array<std::uint8_t, 5> stack{0x2C, 0x37, 0x42, 0x4D, 0x58};
    for (std::size_t i = 0; i < stack.size(); ++i) {
        state.memory[0x07 + i] = stack[i];
    }
    for (int i = 0; i < 16; ++i) {
        state.memory[static_cast<std::size_t>(0x10 + i)] = static_cast<std::uint8_t>(0xC0 + i);
    }
    return state;
}

// The whole panel on one simulated unit with short time limits. One rig
// serves many cases; reset() brings link, unit and windows back to a known
// state between them.
class Rig {
public:
    static constexpr auto kReplyLimit = 60ms;
    static constexpr auto kReconnectPause = 10ms;

    Rig() {
        driver.addAdapter("NR Valve", sim::UnitTiming::instant());
        panel = std::make_unique<ui::Panel>(driver, link::LinkTiming{kReplyLimit, kReconnectPause, 1ms},
                                            ui::PanelPrompts{&boxes, &chooser});
        started = valve::testing::await(panel->start()) && driver.openHere(0);
        sequencerWiring = panel->window().findChild<ui::SequencerWiring*>();
    }
    ~Rig() {
        driver.disarm();
        panel.reset();
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    const ui::MainWindowControls& c() { return panel->window().controls(); }
    sim::SimulatedUnit& unit() { return driver.unit(0); }
    QStringList log() { return panel->log().lines(); }
    QList<QByteArray> sent() { return driver.wire(0).hostLines(); }

    // No operation holds or waits for the link, and no timed run is under way.
    bool idle() {
        return !panel->link().operations().busy() &&
               (sequencerWiring == nullptr || !sequencerWiring->sequencer().runUnderWay());
    }

    // --- the Custom Configuration window ---

    ui::CustomConfigWindow* form() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<ui::CustomConfigWindow*>(widget); window && window->isVisible()) {
                return window;
            }
        }
        return nullptr;
    }
    ui::CustomConfigWindow* openForm() {
        c().Command1->click();
        return form();
    }
    void closeForm() {
        if (QPointer<ui::CustomConfigWindow> open = form()) {
            open->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    // Clicks a button of either window by its control name.
    void press(const QString& name) {
        if (auto* button = panel->window().findChild<QPushButton*>(name)) {
            button->click();
        } else if (form() != nullptr) {
            form()->findChild<QPushButton*>(name)->click();
        }
    }
    QTableWidget* grid() {
        return form() ? form()->findChild<QTableWidget*>(QStringLiteral("MSFlexGrid1")) : nullptr;
    }
    // The operator clicks a data cell and types a byte, then Enter.
    void editCell(int column, const QString& typed) {
        QTableWidget* table = grid();
        if (table == nullptr) {
            return;
        }
        const QRect cell = table->visualItemRect(table->item(1, column));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        auto* editor = form()->findChild<QLineEdit*>(QStringLiteral("Text1"));
        QTest::keyClicks(editor, typed);
        QTest::keyClick(editor, Qt::Key_Return);
    }

    // A text box of either window by its control name.
    QLineEdit* textBox(const QString& name) {
        if (auto* box = panel->window().findChild<QLineEdit*>(name)) {
            return box;
        }
        return form() ? form()->findChild<QLineEdit*>(name) : nullptr;
    }

    // Between cases: faults off, unit on and plugged in, link open, no run,
    // no Custom Configuration window, unit preset, records empty.
    void reset() {
        driver.disarm();
        driver.clearFaults();
        unit().clearFaults();
        unit().setPowered(true);
        if (!driver.pluggedIn(0)) {
            driver.replug(0);
        }
        closeForm();
        if (!c().btnRun->isEnabled()) {
            c().btnStop->click();
        }
        valve::testing::await(panel->link().check_usb_connection());
        panel->link().discard_input();
        unit().state() = presetUnitState();
        clearRecords();
    }
    void clearRecords() {
        panel->log().clear();
        driver.wire(0).clear();
        driver.clearCallLog();
        boxes.texts.clear();
        boxes.buttons.clear();
        boxes.answers.clear();
    }

    TargetedDriver driver;
    ScriptedBoxes boxes;
    PickingChooser chooser;
    std::unique_ptr<ui::Panel> panel;
    ui::SequencerWiring* sequencerWiring = nullptr;
    QObject timers; // context of the timers a case starts
    bool started = false;
    // The case last checked, and how far the wire and the log had got then.
    std::string lastCase;
    qsizetype sentAtCheck = 0;
    qsizetype loggedAtCheck = 0;
};

} // namespace valve::testing::matrix
