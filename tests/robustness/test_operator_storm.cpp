// Random operator actions at both windows on a slow, misbehaving simulated unit,
// audited after each action and after the close: --storm-seed=N --storm-actions=N

#include "panel_rig.h"

#include <QAction>
#include <QComboBox>
#include <QListWidget>
#include <QRegularExpression>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <qcoro/qcorotimer.h>
#include <random>
#include <set>

namespace valve::testing {
namespace {

using namespace std::chrono_literals;
using sim::UnitState;

// Boxes answered at random after up to 30 ms; after the shut-down, Cancel at once, noted.
class RandomBoxes : public protocol::MessageBoxes {
public:
    explicit RandomBoxes(std::uint32_t seed) : random_(seed) {}

    QCoro::Task<protocol::BoxAnswer> message_box(QString text, protocol::BoxButtons, QString) override {
        if (shutDown) {
            afterShutDown << text;
            co_return protocol::BoxAnswer::Cancel;
        }
        const bool ok = std::bernoulli_distribution(0.7)(random_);
        ++open;
        co_await QCoro::sleepFor(
            std::chrono::milliseconds{std::uniform_int_distribution<int>(0, 30)(random_)});
        --open;
        co_return ok && !shutDown ? protocol::BoxAnswer::Ok : protocol::BoxAnswer::Cancel;
    }

    int open = 0;
    bool shutDown = false;
    QStringList afterShutDown;

private:
    std::mt19937 random_;
};

// A number given on the command line as NAME=N; a seed may use all 32 bits.
int option(const QString& name, int otherwise) {
    const QStringList given = QCoreApplication::arguments().filter(QRegularExpression("^" + name + "="));
    return given.isEmpty() ? otherwise : static_cast<int>(given.last().section('=', 1).toUInt());
}

class Storm {
public:
    // Slow enough that clicks overlap its answers: 100 us a byte, 1 ms to think, 3 ms a step.
    static constexpr sim::SimDuration kByteTime = 100us;
    static constexpr auto kReplyTimeout = 60ms;
    static constexpr std::uint32_t kInjected = link::ft::OTHER_ERROR; // never given by the driver itself

    Storm()
        : seed_(static_cast<std::uint32_t>(option("--storm-seed", 26))),
          actionCount_(option("--storm-actions", 3000)), random_(seed_), boxes_(seed_ ^ 0x5eed5eedU),
          rig_({"NR Valve"}, sim::UnitTiming{kByteTime, 1ms, 3ms}, {kReplyTimeout, 20ms, 1ms}, &boxes_) {}
    ~Storm() {
        timers_.reset(); // nothing of the program may be left waiting on the boxes or timers
        if (rig_.panel) {
            rig_.window().close();
            runUntil([this] { return boxes_.open == 0; }, 2000ms);
        }
    }

    void setUp() {
        auto& memory = rig_.unit().memory;
        std::mt19937 fill(seed_);
        std::generate(memory.begin(), memory.end(), [&fill] { return static_cast<std::uint8_t>(fill()); });
        memory[protocol::kClockAddress] = 20;
        // A cleared entry reads 0; the unit itself pushes its error codes.
        for (int i = 0; i < UnitState::kErrorStackSize; ++i) {
            memory.at(UnitState::kErrorStackFirst + static_cast<std::size_t>(i)) =
                static_cast<std::uint8_t>(0x31 + i);
            for (const int value :
                 {0x31, 0x32, 0x33, 0x34, 0x35, +UnitState::kPositioningError, +UnitState::kCommandError}) {
                allow(UnitState::kErrorStackFirst + i, value);
            }
        }
        memoryAtStart_ = memory;
        rig_.window().addShutDownStep([this] {
            closed_ = boxes_.shutDown = true;
            linkDownAtShutDown_ = rig_.panel->link().is_shut_down();
        });
        ASSERT_TRUE(await(rig_.panel->start()) &&
                    !rig_.log().contains("Could not connect to Nerra using USB"))
            << "the panel did not start: " << rig_.log().join(" | ").toStdString();
        timers_ = std::make_unique<QObject>();
        auto* heartbeat = new QTimer(timers_.get());
        // Fires only from the test's own loop; inside a nested loop the level shows.
        QObject::connect(heartbeat, &QTimer::timeout, heartbeat, [this] {
            nestedLoopSeen_ = nestedLoopSeen_ || QThread::currentThread()->loopLevel() > 0;
        });
        heartbeat->start(2);
        buildActions();
    }

    // Stops at the first action after which a rule is broken.
    void run() {
        // In about a third of the runs the operator closes the window before the end.
        const int closeAt = std::uniform_int_distribution<int>(
            actionCount_ * 3 / 4, std::max(actionCount_ * 3 / 2 - 1, 0))(random_);
        std::discrete_distribution<std::size_t> choose(weights_.begin(), weights_.end());
        for (step_ = 0; !::testing::Test::HasFailure() && step_ < std::min(actionCount_, closeAt); ++step_) {
            const auto& [name, act] = actions_[choose(random_)];
            lastAction_ = name;
            act();
            spin(pick(13));
            auditAfterEachAction();
        }
        if (::testing::Test::HasFailure()) {
            return;
        }
        click("Command1"); // the close meets an open Custom Configuration window and a read under way
        click("data_read");
        checkDriverCalls();
        logAtClose_ = rig_.log();
        lastAction_ = "close the main window";
        rig_.window().close();
        spin(static_cast<int>(3 * kReplyTimeout.count()) + 50);
        auditAfterEachAction();
        auditAfterTheClose();
        if (!::testing::Test::HasFailure()) {
            rig_.panel.reset(); // without a trace
            spin(20);
        }
    }

private:
    const ui::MainWindowControls& c() { return rig_.c(); }
    ui::CustomConfigWindow* form() { return closed_ ? nullptr : rig_.form(); }
    int pick(qsizetype n) { return std::uniform_int_distribution<int>(0, static_cast<int>(n) - 1)(random_); }
    void allow(int address, int value) { allowed_.at(static_cast<std::size_t>(address)).insert(value); }
    void add(QString name, double weight, std::function<void()> act) {
        actions_.push_back({std::move(name), std::move(act)});
        weights_.push_back(weight);
    }

    static void spin(int ms) {
        runUntil([] { return false; }, std::chrono::milliseconds{ms});
    }

    // What repeats the storm up to a broken rule.
    [[nodiscard]] std::string repeat() const {
        return QString::asprintf("after action #%d (%s), --storm-seed=%u --storm-actions=%d", step_,
                                 qPrintable(lastAction_), seed_, actionCount_)
            .toStdString();
    }

    // Numbers near and past the limits, bytes and almost bytes, junk, now and then a long paste.
    QString anyText() {
        static const QStringList edges =
            QString::fromUtf8("-1|255|256|65536|0x10| 5|5 |1e309|nan|inf|-0|604800|"
                              "604800.001|12.5|7,5|+3|A5F|G1|\xd9\xa3\xd9\xa4|"
                              "\xef\xbc\xa1\xef\xbc\x95|\xc3\x9f")
                .split('|');
        const int kind = pick(8);
        return kind == 0   ? QString()
               : kind == 1 ? QString::number(pick(300))
               : kind == 2 ? byteText()
               : kind == 3 ? edges.at(pick(edges.size()))
               : kind == 4 ? junk(1 + pick(10))
               : kind == 5 ? junk(pick(3) == 0 ? 1000 + pick(9001) : 1 + pick(3))
                           : QString::number(pick(13));
    }
    QString cellText() { return pick(3) == 0 ? anyText() : byteText(); }
    QString byteText() {
        const QString text = QStringLiteral("%1").arg(pick(256), 2, 16, QChar('0'));
        return pick(2) == 0 ? text : text.toUpper();
    }
    // Printable ASCII, control characters, and letters, digits and marks of other scripts.
    QString junk(int length) {
        static const QStringList odd =
            QString::fromUtf8("\r|\t|\x7f|\xc3\x84|\xc3\x9f|\xd0\x96|\xe6\xbc\xa2|\xd9\xa3|\xef\xbc\x94|"
                              "\xef\xbd\x81|\xc2\xa0|\xe2\x80\xae|\xf0\x9f\x98\x80|\xe2\x80\x8b|\xc4\xb1")
                .split('|')
            << QString(QChar(0)) << QString(QChar(0xD800));
        QString text;
        while (text.size() < length) {
            text += pick(3) == 0 ? odd.at(pick(odd.size())) : QString(QChar(0x20 + pick(0x5F)));
        }
        return text.left(length);
    }
    // Short texts are typed key by key, long ones pasted; where the operator cannot type, nothing happens.
    static void typeInto(QLineEdit* box, const QString& text, bool byKeys = true) {
        if (box == nullptr || !box->isEnabled() || box->isReadOnly()) {
            return;
        }
        if (!byKeys) {
            box->setText(text);
        } else if (text.size() > 64) {
            box->insert(text);
        } else {
            typeKeys(box, text);
        }
    }

    void buildActions() {
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
        const QList<QLineEdit*> boxes = rig_.window().findChildren<QLineEdit*>();
        add("type into", 8.0, [this, boxes] {
            QLineEdit* box = boxes.at(pick(boxes.size()));
            if (pick(2) == 0 && box->isEnabled() && !box->isReadOnly()) { // to type over the old text
                box->selectAll();
            }
            typeInto(box, anyText());
        });
        add("fill timed events", 3.0, [this] { fillTimedEvents(); });
        for (QComboBox* list : {c().Combo_Clock, c().Combo_Baud_Rate, c().Combo_Cmd_Mode}) {
            add("pick in " + list->objectName(), 1.5, [this, list] { pickIn(list); });
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
            typeInto(editor(), cellText());
            editorKey(pick(6) == 0 ? Qt::Key_Escape : Qt::Key_Return);
        });
        add("form Enter or Escape", 4.5,
            [this] { editorKey(pick(3) == 0 ? Qt::Key_Escape : Qt::Key_Return); });
        add("form type into a box or the editor", 4.0, [this] { // one pick in n + 1 finds no box
            const auto boxes = form() ? form()->findChildren<QLineEdit*>() : QList<QLineEdit*>{};
            typeInto(boxes.value(pick(boxes.size() + 1)), pick(2) == 0 ? anyText() : cellText());
        });
        add("form close", 1.5, [this] { form() ? void(form()->close()) : void(); });

        add("fault: unit off", 0.8, [this] {
            rig_.sim().setPowered(false);
            QTimer::singleShot(10 + pick(200), timers_.get(), [this] { rig_.sim().setPowered(true); });
        });
        add("fault: partial replies", 0.8,
            [this] { rig_.sim().truncateReplies(static_cast<std::size_t>(pick(3)), 1 + pick(2)); });
        add("fault: garbage reply", 1.5, [this] { garbageReply(); });
        add("fault: delayed replies", 1.5, [this] {
            const int extraMs =
                pick(2) == 0 ? static_cast<int>(kReplyTimeout.count()) + 5 + pick(40) : 2 + pick(25);
            rig_.sim().delayReplies(std::chrono::milliseconds{extraMs}, 1 + pick(2));
        });
        add("fault: driver call fails", 1.5, [this] {
            using enum sim::DriverCall;
            const std::array calls{Write, Read,   GetQueueStatus, SetFlowControl,
                                   Purge, OpenEx, SetBaudRate,    SetTimeouts};
            rig_.driver.failCall(calls.at(static_cast<std::size_t>(pick(calls.size()))), kInjected, 1,
                                 pick(6));
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
        if (name == "set_clock" && pickedClock_) {
            allow(protocol::kClockAddress, *pickedClock_);
        } else if (name == "Command1" && !form()) {
            editorColumn_.reset(); // a new window, a new editor
        }
        for (int i = 0; name == "clear_err_stack" && i < UnitState::kErrorStackSize; ++i) {
            allow(UnitState::kErrorStackFirst + i, 0);
        }
        if (auto* button = closed_ ? nullptr : rig_.child<QPushButton>(name)) {
            button->click();
        }
    }

    void pickIn(QComboBox* list) {
        const int index = pick(list->count());
        if (pick(2) == 0) {
            pressKey(list, pick(3) == 0 ? Qt::Key_Up : Qt::Key_Down);
        } else {
            list->setCurrentIndex(index);
            emit list->activated(index);
        }
        if (list == c().Combo_Clock && list->currentIndex() >= 0) {
            pickedClock_ = list->itemData(list->currentIndex()).toInt();
        }
    }

    // A reply of the right length but the wrong content: the line stays in step.
    void garbageReply() {
        const char code = QByteArray("SERQD123GPMIWXFABCON").at(pick(20));
        QByteArray reply;
        for (int i = 0; i < (QByteArray("SERQD123G").contains(code) ? 3 : 1); ++i) {
            reply.append(pick(3) == 0 ? static_cast<char>(pick(256))
                                      : QByteArray("0123456789ABCDEFabcdef").at(pick(22)));
        }
        rig_.sim().scriptReply(reply, code);
    }

    // Rising times and valid positions; now and then junk, nothing, past a week, back in time, out of range.
    void fillTimedEvents() {
        const int first = pick(20);
        const int end = std::min(20, first + 1 + pick(4));
        double time = pick(3) == 0 ? 0.0 : pick(100) / 1000.0;
        for (int row = first; row < end; ++row) {
            const int timeKind = pick(10);
            time += timeKind > 3 ? pick(80) / 1000.0 : 0.0;
            const QStringList odd{anyText(), {}, "604800.5", QString::number(time - 0.05)};
            const QString timeText = timeKind > 3 ? QString::number(time) : odd.at(timeKind);
            const int posKind = pick(8);
            const QString posText = posKind > 1    ? QString::number(1 + pick(12))
                                    : posKind == 1 ? QString::number(pick(2) == 0 ? 0 : 13 + pick(243))
                                                   : anyText();
            typeInto(c().txtTime.at(static_cast<std::size_t>(row)), timeText, false);
            typeInto(c().txtPos.at(static_cast<std::size_t>(row)), posText, false);
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
        const QString text = editor() ? editor()->text().toUpper() : QString();
        if (editor() && key == Qt::Key_Return && editorColumn_ &&
            QRegularExpression("^[0-9A-F]{2}$").match(text).hasMatch()) {
            allow(0x0F + *editorColumn_, text.toInt(nullptr, 16));
        }
        editor() ? pressKey(editor(), key) : void();
    }

    void checkDriverCalls() {
        for (const auto& record : rig_.driver.callLog()) {
            writesAfterClose_ += closed_ && record.call == sim::DriverCall::Write ? 1 : 0;
            if (record.status == kInjected) {
                faultExcusesUpTo_ = static_cast<std::size_t>(rig_.sim().wire().hostLines().size());
            }
        }
        rig_.driver.clearCallLog();
    }

    void auditAfterEachAction() {
        SCOPED_TRACE(repeat());
        checkDriverCalls();
        EXPECT_EQ(unexcusedOverlap(), QString()) << "two operations talked to the unit at once";
        EXPECT_EQ(unaskedMemoryChange(), QString());
        EXPECT_FALSE(nestedLoopSeen_) << "a timer fired inside a nested event loop";
        auto fired = std::make_shared<bool>(false);
        QTimer::singleShot(0, timers_.get(), [fired] { *fired = true; });
        EXPECT_TRUE(runUntil([fired] { return *fired; }, 1000ms))
            << "a zero-time timer did not fire within 1 s";
        EXPECT_EQ(disabledControl(), QString());
    }

    // Requests begun while a reply was owed, allowed only after a time-out or a driver fault.
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
        for (const auto& overlaps = wire.overlaps(); overlapsSeen_ < overlaps.size(); ++overlapsSeen_) {
            const auto index = static_cast<std::size_t>(overlaps[overlapsSeen_].requestIndex);
            if (index >= spans.size()) {
                break; // its first byte is not in yet
            }
            if (!excused(lines, spans, index)) {
                return QStringLiteral("request %1 began while the unit still owed a reply").arg(index);
            }
            excusedOverlaps_.insert(index);
        }
        return {};
    }
    // Up to three requests back: a time-out, a driver fault or an excused overlap.
    [[nodiscard]] bool excused(const QList<QByteArray>& lines,
                               const std::vector<std::pair<sim::SimTime, sim::SimTime>>& spans,
                               std::size_t index) const {
        for (std::size_t i = index - std::min<std::size_t>(index, 3); i <= index; ++i) {
            const bool afterTimeOut =
                i > 0 && spans[i].first - spans[i - 1].second >=
                             kReplyTimeout - kByteTime * lines.at(static_cast<qsizetype>(i) - 1).size() - 1ms;
            if (afterTimeOut || i <= faultExcusesUpTo_ || (i < index && excusedOverlaps_.count(i) > 0)) {
                return true;
            }
        }
        return false;
    }

    // Memory changes only where the operator asked: a stored cell, the clock, the error stack.
    QString unaskedMemoryChange() {
        for (std::size_t address = 0; address < memoryAtStart_.size(); ++address) {
            const int now = rig_.unit().memory.at(address);
            if (now != memoryAtStart_.at(address) && allowed_.at(address).count(now) == 0) {
                return QString::asprintf("the unit's memory at 0x%02zx holds 0x%02x (0x%02x at the start)",
                                         address, now, memoryAtStart_.at(address));
            }
        }
        return {};
    }
    // No handler disables anything but a timed run's Run and row boxes.
    QString disabledControl() {
        for (QPushButton* button :
             closed_ ? QList<QPushButton*>{} : rig_.window().findChildren<QPushButton*>()) {
            if (!button->isEnabled() && button != c().btnRun) {
                return "the button " + button->objectName() + " is disabled";
            }
        }
        return closed_ || (rig_.window().isVisible() && c().mnuAbout->isEnabled())
                   ? QString()
                   : "the main window is not shown, or About is disabled";
    }
    // Closing the main window shuts everything down, the link before the shut-down steps: no window,
    // handle, write, log line or box after it.
    void auditAfterTheClose() {
        SCOPED_TRACE(repeat());
        runUntil([this] { return boxes_.open == 0; }, 2000ms);
        checkDriverCalls();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(closed_);
        EXPECT_EQ(openForms().size(), 0);
        EXPECT_TRUE(linkDownAtShutDown_);
        EXPECT_EQ(rig_.driver.handlesHeld(), 0U);
        EXPECT_EQ(writesAfterClose_, 0);
        rig_.panel->log().show_msg(QStringLiteral("late line"));
        EXPECT_EQ(rig_.log(), logAtClose_);
        EXPECT_EQ(boxes_.afterShutDown, QStringList());
        EXPECT_EQ(boxes_.open, 0);
    }

    std::uint32_t seed_;
    int actionCount_;
    std::mt19937 random_;
    RandomBoxes boxes_;
    BasicPanelRig<> rig_;
    std::unique_ptr<QObject> timers_; // owns the timers that end faults; goes before the panel
    std::vector<std::pair<QString, std::function<void()>>> actions_; // named actions
    std::vector<double> weights_;
    int step_ = 0;
    QString lastAction_;

    std::size_t overlapsSeen_ = 0;
    std::set<std::size_t> excusedOverlaps_;
    std::size_t faultExcusesUpTo_ = 0; // a driver fault may meet a reply owed up to this request
    std::array<std::uint8_t, 256> memoryAtStart_{};
    std::array<std::set<int>, 256> allowed_{};
    std::optional<int> editorColumn_;
    std::optional<int> pickedClock_;
    bool nestedLoopSeen_ = false;

    bool closed_ = false;
    bool linkDownAtShutDown_ = false;
    int writesAfterClose_ = 0;
    QStringList logAtClose_;
};

TEST(OperatorStorm, RandomActionsKeepEveryRule) {
    Storm storm;
    ASSERT_NO_FATAL_FAILURE(storm.setUp());
    storm.run();
}

} // namespace
} // namespace valve::testing
