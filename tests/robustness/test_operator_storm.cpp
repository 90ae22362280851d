// Random operator actions at both windows on a slow, misbehaving simulated unit,
// audited after each action and after the close: --storm-seed=N --storm-actions=N

#include "panel_rig.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QRegularExpression>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <qcoro/qcorotimer.h>
#include <random>
#include <ranges>
#include <set>

namespace valve::testing {
namespace {

using namespace std::chrono_literals;
using sim::UnitState;
using std::chrono::milliseconds;

// Boxes answered at random after up to 30 ms; after the shut-down, Cancel at once, noted.
struct RandomBoxes : protocol::MessageBoxes {
    explicit RandomBoxes(std::uint32_t seed) : random(seed) {}
    QCoro::Task<protocol::BoxAnswer> message_box(QString text, protocol::BoxButtons, QString) override {
        if (shutDown) {
            afterShutDown << text;
            co_return protocol::BoxAnswer::Cancel;
        }
        const bool ok = random() % 10 < 7;
        ++open;
        co_await QCoro::sleepFor(milliseconds(random() % 31));
        --open;
        co_return ok && !shutDown ? protocol::BoxAnswer::Ok : protocol::BoxAnswer::Cancel;
    }
    std::mt19937 random;
    int open = 0;
    bool shutDown = false; // set by the main window's shut-down steps
    QStringList afterShutDown;
};

// Each piece of a text between separators, or with none each character.
QStringList split(QStringView text, QStringView separator = {}) {
    return text.toString().split(separator.toString(), Qt::SkipEmptyParts);
}

// A number given on the command line as NAME=N; a seed may use all 32 bits.
int option(const QString& name, int otherwise) {
    const QStringList given = QCoreApplication::arguments().filter(QRegularExpression("^" + name + "="));
    return given.isEmpty() ? otherwise : static_cast<int>(given.last().section('=', 1).toUInt());
}

class OperatorStorm : public ::testing::Test {
protected:
    // Slow enough that clicks overlap its answers: 100 us a byte, 1 ms to think, 3 ms a step.
    static constexpr sim::SimDuration kByteTime = 100us;
    static constexpr auto kReplyTimeout = 60ms;
    static constexpr std::uint32_t kInjected = link::ft::OTHER_ERROR; // never given by the driver itself

    void SetUp() override {
        auto& memory = rig_.unit().memory;
        std::generate(memory.begin(), memory.end(), std::mt19937(seed_)); // a byte of each number
        memory[protocol::kClockAddress] = 20;
        // The unit itself pushes its error codes down the stack.
        for (int i = 0; i < UnitState::kErrorStackSize; ++i) {
            memory.at(UnitState::kErrorStackFirst + i) = 0x31 + i;
            for (const int value :
                 {0x31, 0x32, 0x33, 0x34, 0x35, +UnitState::kPositioningError, +UnitState::kCommandError}) {
                allowed_.emplace(UnitState::kErrorStackFirst + i, value);
            }
        }
        memoryAtStart_ = memory;
        rig_.window().addShutDownStep([this] {
            boxes_.shutDown = true;
            linkDownAtShutDown_ = rig_.panel->link().is_shut_down();
        });
        ASSERT_TRUE(await(rig_.panel->start()) &&
                    !rig_.log().contains("Could not connect to Nerra using USB"))
            << "the panel did not start: " << rig_.log().join(" | ").toStdString();
        auto* heartbeat = new QTimer(timers_.get());
        // Fires only from the test's own loop; inside a nested loop the level shows, and a long gap between
        // beats is a handler that held the loop.
        heartbeat->callOnTimeout([this] {
            nestedLoopSeen_ |= QThread::currentThread()->loopLevel() > 0;
            longestGapMs_ = std::max(longestGapMs_, sinceBeat_.restart());
        });
        heartbeat->start(2);
        sinceBeat_.start();
        addActions();
    }
    void TearDown() override {
        timers_.reset(); // nothing of the program may be left waiting on the boxes or timers
        if (rig_.panel) {
            rig_.window().close();
            runUntil([this] { return boxes_.open == 0; }, 2000ms);
        }
    }

    const ui::MainWindowControls& c() { return rig_.c(); }
    [[nodiscard]] bool closed() const { return boxes_.shutDown; }
    ui::CustomConfigWindow* form() { return closed() ? nullptr : rig_.form(); }
    int pick(qsizetype n) { return std::uniform_int_distribution<int>(0, static_cast<int>(n) - 1)(random_); }
    // One action, then time for its effects and the audit, which tells how to repeat the storm up to it.
    void perform(int step, const QString& name, milliseconds settle, const std::function<void()>& act) {
        trace_ = QString::asprintf("after action #%d (%s), --storm-seed=%u --storm-actions=%d", step,
                                   qPrintable(name), seed_, actionCount_)
                     .toStdString();
        act();
        runUntil([] { return false; }, settle);
        auditAfterEachAction();
    }

    // What the operator types: least to most pieces of one list, the kind drawn by weight (in a grid cell
    // mostly a hex byte). Nothing, numbers, hex bytes, values at and past the limits, control characters and
    // letters, digits and marks of other scripts (lone surrogates too), junk, now and then a long paste.
    QString anyText(bool cell = false) {
        using Kind = std::tuple<const QStringList&, int, int, int>; // pieces, least, most, weight
        static const QStringList digits = split(u"0123456789");
        static const QStringList hex = split(u"0123456789ABCDEFabcdef");
        static const QStringList odd = split(u"ÄßЖ漢٣４ａı😀\r\t\x7f\u00a0\u202e\u200b\xd800")
                                       << QString(QChar(0));
        static const QStringList junk =
            odd + split(u" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                        u"[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~");
        static const QStringList edges = split(
            u"-1|255|256|65536|0x10| 5|5 |1e309|nan|inf|-0|604800|604800.001|12.5|7,5|+3|A5F|G1|٣٤|Ａ５|ß",
            u"|");
        static const Kind kinds[] = {{hex, 2, 2, 3},    {digits, 0, 0, 3},     {digits, 1, 1, 6},
                                     {digits, 1, 3, 3}, {edges, 1, 1, 3},      {odd, 1, 3, 2},
                                     {junk, 1, 10, 3},  {junk, 1000, 10000, 1}};
        const auto weights = kinds | std::views::elements<3>;
        std::discrete_distribution<std::size_t> choose(weights.begin(), weights.end());
        const auto& [pieces, least, most, weight] = kinds[cell && pick(3) > 0 ? 0 : choose(random_)];
        QString text;
        for (int n = least + pick(most - least + 1); n > 0; --n) {
            text += pieces.at(pick(pieces.size()));
        }
        return text;
    }
    // Short texts are typed key by key, long ones pasted; where the operator cannot type, nothing happens.
    static void typeInto(QLineEdit* box, const QString& text, bool byKeys = true) {
        if (box && box->isEnabled() && !box->isReadOnly()) {
            if (!byKeys) {
                box->setText(text);
            } else if (text.size() > 64) {
                box->insert(text);
            } else {
                typeKeys(box, text);
            }
        }
    }

    void add(const QString& name, double weight, std::function<void()> act) {
        actions_.emplace_back(name, std::move(act));
        weights_.push_back(weight);
    }
    void addActions() {
        const std::pair<double, const char*> clicks[] = {
            {1.0,
             "cmd_status cmd_error btnReadControl cmd_fw_rev cmd_op_mode cmd_cmd_mode cmd_clock cmd_pos_a "
             "cmd_pos_b cmd_pos_c homing set_i2c_address set_command set_op_mode set_cmd_mode set_pos_a "
             "set_pos_b set_pos_c set_baud"},
            {0.5, "pos_0 pos_1 pos_2 pos_3 pos_4 pos_5 pos_6 pos_7 pos_8 pos_9 pos_10 pos_11"},
            {1.5, "set_clock read_err_stack clear_err_stack"},
            {2.5, "btnStop"},
            {3.0, "Command1 btnRun data_read"},
            {3.5, "data_write"}};
        for (const auto& [weight, names] : clicks) {
            for (const QString& name : QString(names).split(' ')) {
                add("click " + name, weight, [this, name] { click(name); });
            }
        }
        add("menu About", 0.7, [this] { c().mnuAbout->trigger(); });
        add("type into", 8.0, [this, boxes = rig_.window().findChildren<QLineEdit*>()] {
            QLineEdit* box = boxes.at(pick(boxes.size()));
            if (pick(2) == 0 && box->isEnabled() && !box->isReadOnly()) { // to type over the old text
                box->selectAll();
            }
            typeInto(box, anyText());
        });
        // Rising times, valid positions; now and then junk, nothing, past a week, back in time, out of range.
        add("fill timed events", 3.0, [this] {
            double time = pick(3) == 0 ? 0.0 : pick(100) / 1000.0;
            for (int row = pick(20), end = std::min(20, row + 1 + pick(4)); row < end; ++row) {
                const int timeKind = std::min(pick(10), 4); // the last of each list most often
                time += timeKind == 4 ? pick(80) / 1000.0 : 0.0;
                const QString times[] = {
                    anyText(), {}, "604800.5", QString::number(time - 0.05), QString::number(time)};
                const QString positions[] = {anyText(), QString::number(pick(2) == 0 ? 0 : 13 + pick(243)),
                                             QString::number(1 + pick(12))};
                typeInto(c().txtTime.at(row), times[timeKind], false);
                typeInto(c().txtPos.at(row), positions[std::min(pick(8), 2)], false);
            }
        });
        for (QComboBox* list : {c().Combo_Clock, c().Combo_Baud_Rate, c().Combo_Cmd_Mode}) {
            add("pick in " + list->objectName(), 1.5, [this, list] {
                if (const int index = pick(list->count()); pick(2) == 0) {
                    pressKey(list, pick(3) == 0 ? Qt::Key_Up : Qt::Key_Down);
                } else {
                    list->setCurrentIndex(index);
                    emit list->activated(index);
                }
            });
        }
        add("select in lstControl", 1.5, [this] {
            const int row = pick(c().lstControl->count() + 1) - 1;
            row < 0 ? c().lstControl->clearSelection() : c().lstControl->setCurrentRow(row);
        });
        add("switch tab", 1.0, [this] { c().tabNR->setCurrentIndex(pick(c().tabNR->count())); });
        add("wait until the link is idle", 1.5, [this] { runUntil([this] { return rig_.idle(); }, 3s); });

        add("form grid click", 5.0, [this] { clickGrid(pick(5) == 0 ? 0 : 1, pick(17)); });
        add("form edit a cell", 5.0, [this] {
            clickGrid(1, 1 + pick(16));
            typeInto(editor(), anyText(true));
            editorKey(pick(6) ? Qt::Key_Return : Qt::Key_Escape);
        });
        add("form Enter or Escape", 4.5, [this] { editorKey(pick(3) ? Qt::Key_Return : Qt::Key_Escape); });
        add("form type into a box or the editor", 4.0, [this] { // one pick in n + 1 finds no box
            const auto boxes = form() ? form()->findChildren<QLineEdit*>() : QList<QLineEdit*>{};
            typeInto(boxes.value(pick(boxes.size() + 1)), anyText(pick(2) == 0));
        });
        add("form close", 1.5, [this] { form() ? void(form()->close()) : void(); });

        add("fault: unit off", 0.8, [this] {
            rig_.sim().setPowered(false);
            QTimer::singleShot(10 + pick(200), timers_.get(), [this] { rig_.sim().setPowered(true); });
        });
        add("fault: partial replies", 0.8, [this] { rig_.sim().truncateReplies(pick(3), 1 + pick(2)); });
        // A reply of the right length but the wrong content: the line stays in step.
        add("fault: garbage reply", 1.5, [this] {
            const char code = QByteArray("SERQD123GPMIWXFABCON").at(pick(20));
            QByteArray reply;
            for (int n = QByteArray("SERQD123G").contains(code) ? 3 : 1; n > 0; --n) {
                reply += pick(3) == 0 ? static_cast<char>(pick(256)) : "0123456789ABCDEFabcdef"[pick(22)];
            }
            rig_.sim().scriptReply(reply, code);
        });
        add("fault: delayed replies", 1.5, [this] {
            const auto extra = pick(2) == 0 ? kReplyTimeout.count() + 5 + pick(40) : 2 + pick(25);
            rig_.sim().delayReplies(milliseconds(extra), 1 + pick(2));
        });
        add("fault: driver call fails", 1.5, [this] {
            using enum sim::DriverCall;
            const std::array calls{Write, Read,   GetQueueStatus, SetFlowControl,
                                   Purge, OpenEx, SetBaudRate,    SetTimeouts};
            rig_.driver.failCall(calls.at(pick(calls.size())), kInjected, 1, pick(6));
        });
        add("fault: unplug", 0.4, [this] {
            if (rig_.driver.pluggedIn(0)) {
                rig_.driver.unplug(0);
                QTimer::singleShot(10 + pick(150), timers_.get(), [this] { rig_.driver.replug(0); });
            }
        });
    }

    // The operator clicks a button; what the unit's memory may now hold.
    void click(const QString& name) {
        if (name == "set_clock" && c().Combo_Clock->currentIndex() >= 0) { // only a pick moves it
            allowed_.emplace(protocol::kClockAddress, c().Combo_Clock->currentData().toInt());
        }
        for (int i = 0; name == "clear_err_stack" && i < UnitState::kErrorStackSize; ++i) {
            allowed_.emplace(UnitState::kErrorStackFirst + i, 0); // a cleared entry reads 0
        }
        if (auto* button = closed() ? nullptr : rig_.child<QPushButton>(name)) {
            button->click();
        }
    }
    void clickGrid(int row, int column) {
        if (form()) {
            clickCell(form()->findChild<QTableWidget*>("MSFlexGrid1"), row, column);
            editorColumn_ = row == 1 && column >= 1 ? column : editorColumn_;
        }
    }
    QLineEdit* editor() {
        auto* text1 = form() ? form()->findChild<QLineEdit*>("Text1") : nullptr;
        return text1 && text1->isVisible() ? text1 : nullptr;
    }
    // Enter on two hex digits stores them in the grid: they may reach the unit.
    void editorKey(int key) {
        if (QLineEdit* box = editor()) {
            if (key == Qt::Key_Return && editorColumn_ &&
                QRegularExpression("^[0-9A-Fa-f]{2}$").match(box->text()).hasMatch()) {
                allowed_.emplace(0x0F + *editorColumn_, box->text().toInt(nullptr, 16));
            }
            pressKey(box, key);
        }
    }

    void checkDriverCalls() {
        for (const sim::DriverCallRecord& record : rig_.driver.callLog()) {
            EXPECT_FALSE(closed() && record.call == sim::DriverCall::Write) << "a write after the close";
            if (record.status == kInjected) {
                faultExcusesUpTo_ = rig_.sim().wire().hostLines().size();
            }
        }
        rig_.driver.clearCallLog();
    }
    void auditAfterEachAction() {
        SCOPED_TRACE(trace_);
        checkDriverCalls();
        EXPECT_EQ(unexcusedOverlap(), QString()) << "two operations talked to the unit at once";
        // Memory changes only where the operator asked: a stored cell, the clock, the error stack.
        for (int address = 0; address < static_cast<int>(memoryAtStart_.size()); ++address) {
            const int now = rig_.unit().memory.at(address);
            const int then = memoryAtStart_.at(address);
            EXPECT_TRUE(now == then || allowed_.contains({address, now}))
                << QString::asprintf("memory 0x%02x: 0x%02x, was 0x%02x", address, now, then).toStdString();
        }
        EXPECT_FALSE(nestedLoopSeen_) << "a timer fired inside a nested event loop";
        EXPECT_LT(longestGapMs_, 1000) << "the event loop stood still for over 1 s";
        auto fired = std::make_shared<bool>(false); // shared: it may fire after the wait
        QTimer::singleShot(0, timers_.get(), [fired] { *fired = true; });
        EXPECT_TRUE(runUntil([fired] { return *fired; }, 1s)) << "a zero-time timer waited over 1 s";
        // No handler disables anything but a timed run's Run and row boxes.
        const auto buttons = closed() ? QList<QPushButton*>{} : rig_.window().findChildren<QPushButton*>();
        for (QPushButton* button : buttons) {
            EXPECT_TRUE(button->isEnabled() || button == c().btnRun) << button->objectName().toStdString();
        }
        EXPECT_TRUE(closed() || (rig_.window().isVisible() && c().mnuAbout->isEnabled()))
            << "the main window is not shown, or About is disabled";
    }
    // Requests begun while a reply was owed, each excused only by a time-out, a driver fault or an
    // excused overlap up to three requests back.
    QString unexcusedOverlap() {
        const sim::WireRecord& wire = rig_.sim().wire();
        if (overlapsSeen_ == wire.overlaps().size()) {
            return {};
        }
        const QList<QByteArray> lines = wire.hostLines();
        std::vector<std::pair<sim::SimTime, sim::SimTime>> spans; // first and last byte of each line
        for (bool lineStart = true; const sim::WireRecord::Byte& byte : wire.bytes()) {
            if (byte.direction == sim::WireRecord::Direction::HostToUnit) {
                lineStart ? spans.push_back({byte.at, byte.at}) : void(spans.back().second = byte.at);
                lineStart = byte.value == '\r';
            }
        }
        const auto excused = [&](std::size_t i) {
            return (i > 0 && spans[i].first - spans[i - 1].second >=
                                 kReplyTimeout - kByteTime * lines.at(i - 1).size() - 1ms) ||
                   i <= faultExcusesUpTo_ || excusedOverlaps_.contains(i);
        };
        for (const auto& overlaps = wire.overlaps(); overlapsSeen_ < overlaps.size(); ++overlapsSeen_) {
            const auto index = static_cast<std::size_t>(overlaps[overlapsSeen_].requestIndex);
            if (index >= spans.size()) {
                break; // its first byte is not in yet
            }
            if (!std::ranges::any_of(std::views::iota(index - std::min<std::size_t>(index, 3), index + 1),
                                     excused)) {
                return QStringLiteral("request %1 began while the unit still owed a reply").arg(index);
            }
            excusedOverlaps_.insert(index);
        }
        return {};
    }
    const std::uint32_t seed_ = static_cast<std::uint32_t>(option("--storm-seed", 26));
    const int actionCount_ = option("--storm-actions", 3000);
    std::mt19937 random_{seed_};
    RandomBoxes boxes_{seed_ ^ 0x5eed5eedU};
    BasicPanelRig<> rig_{
        {"NR Valve"}, sim::UnitTiming{kByteTime, 1ms, 3ms}, {kReplyTimeout, 20ms, 1ms}, &boxes_};
    std::unique_ptr<QObject> timers_{new QObject}; // owns the test's timers; goes before the panel
    std::vector<std::pair<QString, std::function<void()>>> actions_; // by name
    std::vector<double> weights_;
    std::string trace_;
    std::size_t overlapsSeen_ = 0;
    std::set<std::size_t> excusedOverlaps_;
    std::size_t faultExcusesUpTo_ = 0; // a driver fault may meet a reply owed up to this request
    std::array<std::uint8_t, 256> memoryAtStart_{};
    std::set<std::pair<int, int>> allowed_; // an address and a value it may come to hold
    std::optional<int> editorColumn_;
    bool nestedLoopSeen_ = false;
    QElapsedTimer sinceBeat_;
    qint64 longestGapMs_ = 0;
    bool linkDownAtShutDown_ = false;
};

// Stops at the first action after which a rule is broken.
TEST_F(OperatorStorm, RandomActionsKeepEveryRule) {
    // In about a third of the runs the operator closes the window before the end.
    std::uniform_int_distribution<int> closeAt(actionCount_ * 3 / 4, std::max(actionCount_ * 3 / 2 - 1, 0));
    const int steps = std::min(actionCount_, closeAt(random_));
    std::discrete_distribution<std::size_t> choose(weights_.begin(), weights_.end());
    for (int step = 0; !HasFailure() && step < steps; ++step) {
        const auto& [name, act] = actions_[choose(random_)];
        perform(step, name, milliseconds(pick(13)), act);
    }
    if (HasFailure()) {
        return;
    }
    click("Command1"); // the close meets an open Custom Configuration window and a read under way
    click("data_read");
    checkDriverCalls();
    const QStringList logAtClose = rig_.log();
    perform(steps, "close the main window", 3 * kReplyTimeout + 50ms, [this] { rig_.window().close(); });
    // Closing the main window shuts everything down, the link before the shut-down steps: no window,
    // handle, write, log line or box after it.
    SCOPED_TRACE(trace_);
    runUntil([this] { return boxes_.open == 0; }, 2000ms);
    checkDriverCalls();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    rig_.panel->log().show_msg(QStringLiteral("late line"));
    EXPECT_EQ(rig_.log(), logAtClose);
    EXPECT_EQ(boxes_.afterShutDown, QStringList());
    EXPECT_TRUE(closed());
    EXPECT_TRUE(linkDownAtShutDown_);
    EXPECT_EQ(openForms().size(), 0);
    EXPECT_EQ(rig_.driver.handlesHeld(), 0U);
    EXPECT_EQ(boxes_.open, 0);
    if (!HasFailure()) {
        rig_.panel.reset(); // without a trace
        runUntil([] { return false; }, 20ms);
    }
}

} // namespace
} // namespace valve::testing
