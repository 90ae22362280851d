// A storm of random operator actions at the main window and the Custom
// Configuration window, on a slow simulated unit that misbehaves at random.
// A table of actions with their weights, and a table of audits that run after
// every action: one operation at a time on the line, the unit's memory changed
// only where the operator asked, the events log bounded, the event loop never
// stuck or nested, the controls usable; and after closing the main window,
// nothing more on the line, in the log or in a box.
//
// The actions follow from the seed:
//   test_operator_storm --storm-seed=N --storm-actions=N
// On a failure or a crash the seed and the last actions are printed.

#include "panel_rig.h"
#include "ui/events_log_view.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QRegularExpression>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <climits>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <qcoro/qcorotimer.h>
#include <random>
#include <set>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace valve::testing {
namespace {

using namespace std::chrono_literals;
using sim::UnitState;

// The last actions, kept where a crash handler can still print them.
std::array<std::array<char, 200>, 50> g_trail{};
std::size_t g_actions = 0;
std::array<char, 96> g_banner{};

// Async-signal-safe: fixed buffers and write(2) only.
void printTrail() {
    const auto out = [](const char* text) { return ::write(STDERR_FILENO, text, std::strlen(text)) >= 0; };
    out(g_banner.data());
    for (std::size_t i = g_actions - std::min(g_actions, g_trail.size()); i < g_actions; ++i) {
        out("  ") && out(g_trail[i % g_trail.size()].data()) && out("\n");
    }
}

void onFatalSignal(int signal) {
    printTrail();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void installCrashReport(std::uint32_t seed) {
    std::snprintf(g_banner.data(), g_banner.size(), "operator storm: --storm-seed=%u, last actions:\n", seed);
    for (const int signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) {
        std::signal(signal, onFatalSignal);
    }
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_death_callback(printTrail);
#endif
}

// Message boxes answered by a hurried operator: OK or Cancel at random, after
// a random short while, so that a box can still be open when the next click
// comes. From the program's shut-down on, every box is answered Cancel at once
// (as the real boxes are) and counted, since nothing should ask any more.
class RandomBoxes : public link::MessageBoxes {
public:
    explicit RandomBoxes(std::uint32_t seed) : random_(seed) {}

    QCoro::Task<link::BoxAnswer> message_box(QString text, link::BoxButtons, QString) override {
        ++asked;
        if (shutDown) {
            afterShutDown << text;
            co_return link::BoxAnswer::Cancel;
        }
        const bool ok = std::bernoulli_distribution(0.7)(random_);
        const int delayMs = std::uniform_int_distribution<int>(0, 30)(random_);
        ++open;
        if (delayMs > 0) {
            co_await QCoro::sleepFor(std::chrono::milliseconds{delayMs});
        }
        --open;
        co_return ok && !shutDown ? link::BoxAnswer::Ok : link::BoxAnswer::Cancel;
    }

    int asked = 0;
    int open = 0;
    bool shutDown = false;
    QStringList afterShutDown;

private:
    std::mt19937 random_;
};

// Finds requests that began while the unit still owed a reply. The host may
// do that only when it had given up on the reply: after a request that ran
// into the reply time limit (seen on the line as a pause of at least that
// limit before the next request), in the few requests that follow one (a late
// reply is then taken for the next one's), or right after a driver fault made
// an operation end early. Anything else means two operations talked to the
// unit at once.
class WireAudit {
public:
    WireAudit(sim::SimDuration replyTimeout, sim::SimDuration byteTime)
        : timeout_(replyTimeout), byte_(byteTime) {}

    // A driver fault ended an operation between `from` and `to`, perhaps before
    // the unit had answered: requests that began in that span, and the first
    // one after it, may overlap the answer.
    void excuse(sim::SimTime from, sim::SimTime to) { windows_.emplace_back(from, to); }

    // The first overlap since the last call that the host had no right to, described.
    QString check(const sim::WireRecord& wire) {
        if (seen_ == wire.overlaps().size()) {
            return {};
        }
        std::vector<Line> lines;
        for (const sim::WireRecord::Byte& byte : wire.bytes()) {
            if (byte.direction == sim::WireRecord::Direction::HostToUnit) {
                if (lines.empty() || lines.back().text.endsWith('\r')) {
                    lines.push_back({byte.at, byte.at, {}});
                }
                lines.back().last = byte.at;
                lines.back().text.append(byte.value);
            }
        }
        for (const auto& overlaps = wire.overlaps(); seen_ < overlaps.size(); ++seen_) {
            const auto index = static_cast<std::size_t>(overlaps[seen_].requestIndex);
            if (index >= lines.size()) {
                break; // its first byte is not in yet
            }
            if (!excused(lines, index)) {
                QByteArray before;
                for (std::size_t i = index - std::min<std::size_t>(index, 6); i < index; ++i) {
                    before += lines[i].text;
                }
                return QStringLiteral("request %1 %2 began while the unit still owed a reply; before it: %3")
                    .arg(index)
                    .arg(QString::fromLatin1(lines[index].text).replace('\r', "\\r"),
                         QString::fromLatin1(before).replace('\r', "\\r "));
            }
            excused_.insert(index);
        }
        return {};
    }
    [[nodiscard]] std::size_t excusedOverlaps() const { return excused_.size(); }

private:
    struct Line {
        sim::SimTime first;
        sim::SimTime last;
        QByteArray text;
    };

    // A time-out, a driver fault or an excused overlap up to three requests
    // before can leave a reply in flight that this one runs into.
    [[nodiscard]] bool excused(const std::vector<Line>& lines, std::size_t index) const {
        for (std::size_t i = index - std::min<std::size_t>(index, 3); i <= index; ++i) {
            const sim::SimTime at = lines[i].first;
            const sim::SimTime before = i > 0 ? lines[i - 1].first : sim::SimTime::min();
            const bool afterTimeOut =
                i > 0 && at - lines[i - 1].last >= timeout_ - byte_ * lines[i - 1].text.size() - 1ms;
            const bool inWindow = std::any_of(windows_.begin(), windows_.end(), [&](const auto& window) {
                return at >= window.first && (at <= window.second || before <= window.second);
            });
            if (afterTimeOut || inWindow || (i < index && excused_.count(i) > 0)) {
                return true;
            }
        }
        return false;
    }

    sim::SimDuration timeout_;
    sim::SimDuration byte_;
    std::size_t seen_ = 0;
    std::set<std::size_t> excused_;
    std::vector<std::pair<sim::SimTime, sim::SimTime>> windows_;
};

struct StormOptions {
    std::uint32_t seed = 26;
    int actions = 3000;
};

class Storm {
public:
    // The unit is slow enough that clicks overlap its answers: a tenth of the
    // real byte time, a millisecond to think, 3 ms per position step.
    static constexpr sim::SimDuration kByteTime = 100us;
    static constexpr auto kReplyTimeout = 60ms;
    // The status of an injected driver failure; the driver never gives it by itself.
    static constexpr std::uint32_t kInjected = link::ft::OTHER_ERROR;

    explicit Storm(StormOptions options)
        : options_(options), random_(options.seed), boxes_(options.seed ^ 0x5eed5eedU),
          rig_({"NR Valve"}, sim::UnitTiming{kByteTime, 1ms, 3ms}, {kReplyTimeout, 20ms, 1ms}, &boxes_),
          wire_(kReplyTimeout, kByteTime) {}
    ~Storm() {
        // Nothing of the program may be left waiting on the boxes or timers.
        timers_.reset();
        if (rig_.panel) {
            rig_.window().close();
            runUntil([this] { return boxes_.open == 0; }, 2000ms);
        }
    }

    // Brings the panel up on the unit with random memory; a reason when it would not.
    QString setUp() {
        auto& memory = rig_.unit().memory;
        std::mt19937 fill(options_.seed);
        std::generate(memory.begin(), memory.end(), [&fill] { return static_cast<std::uint8_t>(fill()); });
        memory[UnitState::kClockAddress] = 20;
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
        rig_.window().addShutDownStep([this] { closed_ = boxes_.shutDown = true; });
        if (!await(rig_.panel->start()) || rig_.log().contains("Could not connect to Nerra using USB")) {
            return "the panel did not start: " + rig_.log().join(" | ");
        }
        // Past its bound, which the first audit checks: the storm itself
        // seldom logs enough lines before the log is first cleared.
        for (int i = 0; i < link::EventLog::kMaxLines + 20; ++i) {
            rig_.panel->log().show_msg(QStringLiteral("earlier line %1").arg(i));
        }
        timers_ = std::make_unique<QObject>();
        auto* heartbeat = new QTimer(timers_.get());
        // Fires only from the test's own loop; inside a nested loop the level shows.
        QObject::connect(heartbeat, &QTimer::timeout, heartbeat, [this] {
            nestedLoopSeen_ = nestedLoopSeen_ || QThread::currentThread()->loopLevel() > 0;
        });
        heartbeat->start(2);
        buildActions();
        return {};
    }

    // Runs the storm: the first broken rule, described, or nothing.
    QString run() {
        installCrashReport(options_.seed);
        // In about a third of the runs the operator closes the window before the end.
        const int closeAt = std::uniform_int_distribution<int>(
            options_.actions * 3 / 4, std::max(options_.actions * 3 / 2 - 1, 0))(random_);
        std::vector<double> weights;
        for (const Action& action : actions_) {
            weights.push_back(action.weight);
        }
        std::discrete_distribution<std::size_t> choose(weights.begin(), weights.end());
        QString broken;
        for (step_ = 0; broken.isEmpty() && step_ < std::min(options_.actions, closeAt); ++step_) {
            const Action& action = actions_[choose(random_)];
            const int waitMs = pick(13);
            note(QStringLiteral("%1 %2; wait %3 ms").arg(action.name, action.act(), QString::number(waitMs)));
            spin(waitMs);
            broken = firstBroken(afterEachAction());
        }
        if (broken.isEmpty()) {
            note(closeMainWindow());
            spin(static_cast<int>(3 * kReplyTimeout.count()) + 50);
            broken = firstBroken(afterEachAction());
        }
        broken = broken.isEmpty() ? firstBroken(afterTheClose()) : broken;
        if (broken.isEmpty()) {
            rig_.panel.reset(); // without a trace
            spin(20);
        }
        return broken;
    }

    QString summary() {
        const auto& wire = unit().wire();
        return QString::asprintf(
                   "seed %u: %d actions, %lld requests on the line (%zu memory writes, %zu moves), %zu "
                   "overlaps excused, %d boxes, %d faults injected, longest zero-timer delay %lld ms, ",
                   options_.seed, options_.actions, static_cast<long long>(wire.hostLines().size()),
                   wire.hostLineStarts('W').size(), wire.hostLineStarts('P').size(), wire_.excusedOverlaps(),
                   boxes_.asked, faults_, static_cast<long long>(worstLatencyMs_)) +
               closeNote_;
    }

private:
    struct Action {
        QString name;
        double weight;
        std::function<QString()> act; // returns the details worth reporting
    };
    using Audit = std::function<QString()>; // what broke, or nothing

    sim::SimulatedUnit& unit() { return rig_.driver.unit(0); }
    const ui::MainWindowControls& c() { return rig_.c(); }
    ui::CustomConfigWindow* form() { return closed_ ? nullptr : openForms().value(0); }
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    void allow(int address, int value) { allowed_.at(static_cast<std::size_t>(address)).insert(value); }
    void add(QString name, double weight, std::function<QString()> act) {
        actions_.push_back({std::move(name), weight, std::move(act)});
    }
    void note(const QString& action) {
        const QByteArray text = QStringLiteral("#%1 %2").arg(step_).arg(action).toUtf8();
        qstrncpy(g_trail[g_actions++ % g_trail.size()].data(), text.constData(), g_trail[0].size());
    }

    // Lets the program run for `ms` milliseconds (at least one pass of the
    // loop); the heartbeat wakes the loop every few milliseconds.
    static void spin(int ms) {
        QElapsedTimer clock;
        clock.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        while (clock.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
    }

    QString firstBroken(const std::vector<Audit>& audits) {
        for (const Audit& audit : audits) {
            if (const QString broken = audit(); !broken.isEmpty()) {
                printTrail();
                return QStringLiteral("%1\nafter action #%2, --storm-seed=%3 --storm-actions=%4")
                    .arg(broken, QString::number(step_), QString::number(options_.seed),
                         QString::number(options_.actions));
            }
        }
        return {};
    }

    // --- what the operator types ---

    // Texts an operator might put in a box: numbers near and past the limits,
    // bytes in both cases, junk, characters from other scripts, control
    // characters, and now and then a very long paste.
    QString anyText() {
        static const QStringList edges =
            QString("-1|255|256|65536|0x10| 5|5 |1e309|nan|inf|-0|604800|604800.001|"
                    "12.5|7,5|+3")
                .split('|');
        const int kind = pick(9);
        return kind == 0                   ? QString()
               : kind == 1                 ? QString::number(pick(300))
               : kind == 2                 ? byteText()
               : kind == 3                 ? edges.at(pick(16))
               : kind == 4                 ? junk(1 + pick(8))
               : kind == 5                 ? foreign(1 + pick(6))
               : kind == 6                 ? junk(1 + pick(3)) + foreign(1 + pick(2))
               : kind == 7 && pick(3) == 0 ? longText()
                                           : QString::number(pick(13));
    }
    // What goes into the cell editor: mostly a byte, sometimes not (Arabic-Indic
    // digits, full-width letters, a sharp s among them).
    QString cellText() {
        static const QStringList odd =
            QString::fromUtf8("5|A5F|G1| 5|\xd9\xa3\xd9\xa4|\xef\xbc\xa1\xef\xbc\x95|\xc3\x9f").split('|');
        const int kind = pick(6);
        return kind == 0 ? anyText() : kind == 1 ? odd.at(pick(7)) : byteText();
    }
    QString byteText() {
        const QString text = QStringLiteral("%1").arg(pick(256), 2, 16, QChar('0'));
        return pick(2) == 0 ? text : text.toUpper();
    }
    QString longText() {
        const int length = 1000 + pick(9001);
        QString text;
        while (text.size() < length) {
            text += pick(3) == 0 ? foreign(1) : junk(1);
        }
        return text.left(length);
    }
    // Printable ASCII with control characters (CR and NUL among them) and DEL.
    QString junk(int length) {
        QString text;
        for (int i = 0; i < length; ++i) {
            const int kind = pick(10);
            text += QChar(static_cast<char16_t>(kind == 0   ? pick(0x20)
                                                : kind == 1 ? 0x7F
                                                            : 0x20 + pick(0x5F)));
        }
        return text;
    }
    // Umlaut, sharp s, Cyrillic, Han, Arabic-Indic and full-width digits,
    // no-break space, right-to-left override, emoji, zero-width space,
    // dotless i, and a lone surrogate.
    QString foreign(int length) {
        static const QStringList pieces =
            QString::fromUtf8(
                "\xc3\x84|\xc3\x9f|\xd0\x96|\xe6\xbc\xa2|\xd9\xa3|\xef\xbc\x94|\xef\xbd\x81|\xc2\xa0|"
                "\xe2\x80\xae|\xf0\x9f\x98\x80|\xe2\x80\x8b|\xc4\xb1")
                .split('|')
            << QString(QChar(0xD800));
        QString text;
        for (int i = 0; i < length; ++i) {
            text += pieces.at(pick(13));
        }
        return text;
    }
    // At most 24 characters of a text, control characters escaped.
    static QString shortened(const QString& text) {
        QString shown;
        for (const QChar c : text.left(24)) {
            shown += c.unicode() < 0x20 || c.unicode() == 0x7F
                         ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar('0'))
                         : QString(c);
        }
        return "\"" + shown + (text.size() > 24 ? QStringLiteral("...(%1 chars)").arg(text.size()) : "") +
               "\"";
    }
    // Short texts are typed key by key; long ones arrive as a paste would.
    // Where the operator cannot type, nothing happens.
    static QString typeInto(QLineEdit* box, const QString& text) {
        if (box != nullptr && box->isEnabled() && !box->isReadOnly()) {
            text.size() > 64 ? box->insert(text) : typeKeys(box, text);
        }
        return (box ? box->objectName() + " " : "(no box) ") + shortened(text);
    }

    // --- the actions ---

    void buildActions() {
        // Buttons of either window by name, by weight.
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
                add("click " + name, weight, [this, name] { return click(name); });
            }
        }
        add("menu About", 0.7, [this] { return c().mnuAbout->trigger(), QString(); });
        add("type into", 8.0, [this] {
            const QStringList boxes{
                "position",      "txt_status",    "txt_error",       "txt_control",  "txt_set_i2c_address",
                "txt_op_mode",   "txt_fw_rev",    "txt_set_op_mode", "txt_cmd_mode", "txt_set_pos_a",
                "txt_set_pos_b", "txt_set_pos_c", "txt_pos_a",       "txt_pos_b",    "txt_pos_c",
                "txt_clock"};
            const int which = pick(56);
            QLineEdit* box = which < 16   ? rig_.window().findChild<QLineEdit*>(boxes.at(which))
                             : which < 36 ? c().txtTime.at(static_cast<std::size_t>(which - 16))
                                          : c().txtPos.at(static_cast<std::size_t>(which - 36));
            const bool replace = pick(2) == 0;
            if (replace && box->isEnabled() && !box->isReadOnly()) {
                box->selectAll();
            }
            return typeInto(box, anyText()) + (replace ? " over the old text" : "");
        });
        add("fill timed events", 3.0, [this] { return fillTimedEvents(); });
        for (QComboBox* list : {c().Combo_Clock, c().Combo_Baud_Rate, c().Combo_Cmd_Mode}) {
            add("pick in " + list->objectName(), 1.5, [this, list] { return pickIn(list); });
        }
        add("select in lstControl", 1.5, [this] {
            const int row = pick(c().lstControl->count() + 1) - 1;
            row < 0 ? c().lstControl->clearSelection() : c().lstControl->setCurrentRow(row);
            return QString::number(row);
        });
        add("switch tab", 1.0,
            [this] { return c().tabNR->setCurrentIndex(pick(c().tabNR->count())), QString(); });
        add("wait until the link is idle", 1.5,
            [this] { return runUntil([this] { return rig_.idle(); }, 3s), QString(); });

        // The Custom Configuration window.
        add("form grid click", 5.0, [this] {
            const int row = pick(5) == 0 ? 0 : 1;
            return clickGrid(row, pick(17));
        });
        add("form edit a cell", 5.0, [this] {
            const int column = 1 + pick(16);
            const QString text = cellText();
            const int key = pick(6) == 0 ? Qt::Key_Escape : Qt::Key_Return;
            QString done = clickGrid(1, column);
            done += ", type " + typeIntoEditor(text);
            return done + ", " + editorKey(key);
        });
        add("form type into the editor", 3.0, [this] { return typeIntoEditor(cellText()); });
        add("form Enter", 3.0, [this] { return editorKey(Qt::Key_Return); });
        add("form Escape", 1.5, [this] { return editorKey(Qt::Key_Escape); });
        add("form type into a box", 1.0, [this] {
            const int which = pick(6);
            const QString text = anyText();
            const QString name =
                which == 0 ? QStringLiteral("stat") : QStringLiteral("err_stack_%1").arg(which - 1);
            return form() ? typeInto(form()->findChild<QLineEdit*>(name), text) : "(no window)";
        });
        add("form close", 1.5, [this] { return form() && form()->close() ? "" : "(no window)"; });

        // The unit and the adapter misbehave.
        add("fault: unit off", 0.8, [this] {
            unit().setPowered(false);
            return faultFor(10 + pick(200), [this] { unit().setPowered(true); });
        });
        add("fault: partial replies", 0.8, [this] {
            const auto keep = static_cast<std::size_t>(pick(3));
            const int times = 1 + pick(2);
            unit().truncateReplies(keep, times);
            return faultFor(0, {}) + QStringLiteral(": keep %1, %2 times").arg(keep).arg(times);
        });
        add("fault: garbage reply", 1.5, [this] { return garbageReply(); });
        add("fault: delayed replies", 1.5, [this] {
            const bool late = pick(2) == 0;
            const int extraMs = late ? static_cast<int>(kReplyTimeout.count()) + 5 + pick(40) : 2 + pick(25);
            const int times = 1 + pick(2);
            unit().delayReplies(std::chrono::milliseconds{extraMs}, times);
            return faultFor(0, {}) + QStringLiteral(": by %1 ms, %2 times").arg(extraMs).arg(times);
        });
        add("fault: driver call fails", 1.5, [this] {
            using enum sim::DriverCall;
            const std::array calls{Write, Read,   GetQueueStatus, SetFlowControl,
                                   Purge, OpenEx, SetBaudRate,    SetTimeouts};
            const auto call = calls.at(static_cast<std::size_t>(pick(8)));
            const int after = pick(6);
            rig_.driver.failCall(call, kInjected, 1, after);
            return faultFor(0, {}) + ": " + sim::driverCallName(call) +
                   QStringLiteral(" after %1 calls").arg(after);
        });
        add("fault: read with IO error", 0.4, [this] {
            rig_.driver.readReturnsStatus(link::ft::IO_ERROR, 1);
            return faultFor(0, {});
        });
        // Everything on the line is lost with the adapter: nothing stays owed.
        add("fault: unplug", 0.4, [this] {
            if (!rig_.driver.pluggedIn(0)) {
                return QStringLiteral("(already out)");
            }
            rig_.driver.unplug(0);
            return faultFor(10 + pick(150), [this] { rig_.driver.replug(0); });
        });
    }

    // The operator clicks a button; what the unit's memory may now hold.
    QString click(const QString& name) {
        if (name == "set_clock" && pickedClock_) {
            allow(UnitState::kClockAddress, *pickedClock_);
        } else if (name == "Command1" && !form()) {
            editorColumn_.reset(); // a new window, a new editor
        }
        for (int i = 0; name == "clear_err_stack" && i < UnitState::kErrorStackSize; ++i) {
            allow(UnitState::kErrorStackFirst + i, 0);
        }
        auto* button = closed_ ? nullptr : rig_.child<QPushButton>(name);
        return button ? (button->click(), QString()) : "(no window)";
    }

    QString pickIn(QComboBox* list) {
        const bool byKey = pick(2) == 0;
        const int index = pick(list->count());
        if (byKey) {
            pressKey(list, pick(3) == 0 ? Qt::Key_Up : Qt::Key_Down);
        } else {
            list->setCurrentIndex(index);
            emit list->activated(index);
        }
        if (list == c().Combo_Clock && list->currentIndex() >= 0) {
            pickedClock_ = list->itemData(list->currentIndex()).toInt();
        }
        return byKey ? QStringLiteral("by arrow key, now %1").arg(list->currentIndex())
                     : QString::number(index);
    }

    // A fault, counted; it ends after `ms` milliseconds.
    QString faultFor(int ms, const std::function<void()>& end) {
        ++faults_;
        if (end) {
            QTimer::singleShot(ms, timers_.get(), end);
        }
        return end ? QStringLiteral("for %1 ms").arg(ms) : "";
    }

    // A reply of the right length but the wrong content: the line stays in step.
    QString garbageReply() {
        const char code = QByteArray("SERQD123GPMIWXFABCON").at(pick(20));
        QByteArray reply;
        for (int i = 0; i < (QByteArray("SERQD123G").contains(code) ? 3 : 1); ++i) {
            reply.append(pick(3) == 0 ? static_cast<char>(pick(256))
                                      : QByteArray("0123456789ABCDEFabcdef").at(pick(22)));
        }
        unit().scriptReply(reply, code);
        return faultFor(0, {}) +
               QStringLiteral("for %1: %2").arg(QChar(code)).arg(QString::fromLatin1(reply.toHex()));
    }

    // Rows with times now and then junk, nothing, past a week or back in
    // time, and positions out of range. What the operator cannot reach stays.
    QString fillTimedEvents() {
        const int first = pick(20);
        const int count = 1 + pick(4);
        double time = pick(3) == 0 ? 0.0 : pick(100) / 1000.0;
        QStringList rows;
        for (std::size_t row = first; row < static_cast<std::size_t>(std::min(20, first + count)); ++row) {
            const int timeKind = pick(10);
            time += timeKind > 3 ? pick(80) / 1000.0 : 0.0;
            const QString timeText = timeKind == 0   ? anyText()
                                     : timeKind == 1 ? QString()
                                     : timeKind == 2 ? "604800.5"
                                                     : QString::number(timeKind == 3 ? time - 0.05 : time);
            const int posKind = pick(8);
            const QString posText = posKind == 0   ? anyText()
                                    : posKind == 1 ? QString::number(pick(2) == 0 ? 0 : 13 + pick(243))
                                                   : QString::number(1 + pick(12));
            for (const auto& [box, text] :
                 {std::pair{c().txtTime.at(row), timeText}, {c().txtPos.at(row), posText}}) {
                box->isEnabled() ? box->setText(text) : void();
            }
            rows
                << QStringLiteral("%1: %2 s at %3").arg(row + 1).arg(shortened(timeText), shortened(posText));
        }
        return rows.join(", ");
    }

    QString clickGrid(int row, int column) {
        if (!form()) {
            return "(no window)";
        }
        clickCell(form()->findChild<QTableWidget*>("MSFlexGrid1"), row, column);
        editorColumn_ = row == 1 && column >= 1 ? column : editorColumn_; // the editor opens over the cell
        return QStringLiteral("cell %1,%2").arg(row).arg(column);
    }
    QLineEdit* editor() {
        auto* text1 = form() ? form()->findChild<QLineEdit*>("Text1") : nullptr;
        return text1 && text1->isVisible() ? text1 : nullptr;
    }
    QString typeIntoEditor(const QString& text) {
        return editor() ? typeInto(editor(), text) : shortened(text) + " (no editor open)";
    }
    // Enter on two hex digits stores them in the grid: they may reach the unit.
    QString editorKey(int key) {
        if (!editor()) {
            return "(no editor open)";
        }
        const QString text = editor()->text().toUpper();
        if (key == Qt::Key_Return && editorColumn_ &&
            QRegularExpression("^[0-9A-F]{2}$").match(text).hasMatch()) {
            allow(0x0F + *editorColumn_, text.toInt(nullptr, 16));
        }
        pressKey(editor(), key);
        return (key == Qt::Key_Return ? "Enter on " : "Escape on ") + shortened(text);
    }

    QString closeMainWindow() {
        checkDriverCalls();
        closeNote_ =
            QStringLiteral("closed the main window at action %1 (Custom Configuration %2, link %3, %4 "
                           "boxes open)")
                .arg(step_)
                .arg(form() ? "open" : "closed", rig_.idle() ? "idle" : "busy")
                .arg(boxes_.open);
        logAtClose_ = rig_.log();
        rig_.window().close();
        return closeNote_;
    }

    // --- the audits ---

    // An injected driver failure makes an operation end before the unit has
    // answered: the wire audit excuses the span since the last audit.
    void checkDriverCalls() {
        for (const auto& record : rig_.driver.callLog()) {
            writesAfterClose_ += closed_ && record.call == sim::DriverCall::Write ? 1 : 0;
            if (record.status == kInjected) {
                wire_.excuse(lastCheck_ - 1ms, sim::SimClock::now());
            }
        }
        rig_.driver.clearCallLog();
        lastCheck_ = sim::SimClock::now();
    }

    std::vector<Audit> afterEachAction() {
        checkDriverCalls();
        return {
            [this] {
                const QString broken = wire_.check(unit().wire());
                return broken.isEmpty() ? broken : "two operations talked to the unit at once: " + broken;
            },
            // A byte may differ from its value at the start only where the
            // operator allowed a value for it: a byte stored in the grid, a
            // clock speed picked for "Set Clock", a cleared or newly recorded
            // error-stack entry.
            [this] {
                for (std::size_t address = 0; address < memoryAtStart_.size(); ++address) {
                    const int now = unit().state().memory.at(address);
                    if (now != memoryAtStart_.at(address) && allowed_.at(address).count(now) == 0) {
                        return QStringLiteral(
                                   "the unit's memory at 0x%1 holds 0x%2 (0x%3 at the start), which "
                                   "the operator never asked for")
                            .arg(address, 2, 16, QChar('0'))
                            .arg(now, 2, 16, QChar('0'))
                            .arg(memoryAtStart_.at(address), 2, 16, QChar('0'));
                    }
                }
                return QString();
            },
            [this] {
                const auto lines = rig_.log().size();
                const int shown = c().LoggerList->count();
                return lines <= link::EventLog::kMaxLines && shown <= link::EventLog::kMaxLines
                           ? QString()
                           : QStringLiteral("the events log holds %1 lines (%2 shown)").arg(lines).arg(shown);
            },
            [this] { return nestedLoopSeen_ ? "a timer fired inside a nested event loop" : QString(); },
            // A zero-time timer fires at once when nothing hogs the thread.
            [this] {
                auto fired = std::make_shared<bool>(false);
                QElapsedTimer latency;
                latency.start();
                QTimer::singleShot(0, timers_.get(), [fired] { *fired = true; });
                const bool inTime = runUntil([fired] { return *fired; }, 1000ms);
                worstLatencyMs_ = std::max(worstLatencyMs_, latency.elapsed());
                return inTime ? QString() : "a zero-time timer did not fire within 1 s";
            },
            // No handler disables anything but a timed run's Run and row boxes.
            [this] {
                for (QPushButton* button :
                     closed_ ? QList<QPushButton*>{} : rig_.window().findChildren<QPushButton*>()) {
                    if (!button->isEnabled() && button != c().btnRun) {
                        return QStringLiteral("the button %1 is disabled").arg(button->objectName());
                    }
                }
                return closed_ || (rig_.window().isVisible() && c().mnuAbout->isEnabled())
                           ? QString()
                           : "the main window is not shown, or About is disabled";
            },
            // A marked cell holds what an edit stored: two upper-case hex digits.
            [this] {
                for (int column = 1; form() && column <= 16; ++column) {
                    const auto& cell = form()->memory().cell(column);
                    if (cell.changed && !QRegularExpression("^[0-9A-F]{2}$").match(cell.text).hasMatch()) {
                        return QStringLiteral("grid cell %1 is marked for writing but holds %2")
                            .arg(column)
                            .arg(shortened(cell.text));
                    }
                }
                return QString();
            },
        };
    }

    // After the close: nothing more on the line, in the log or in a box; the
    // Custom Configuration window gone.
    std::vector<Audit> afterTheClose() {
        runUntil([this] { return boxes_.open == 0; }, 2000ms);
        checkDriverCalls();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const auto rule = [](bool holds, const QString& broken) {
            return [=] { return holds ? QString() : broken; };
        };
        return {
            rule(closed_, "closing the main window did not shut the program down"),
            rule(openForms().isEmpty(),
                 "the Custom Configuration window stayed open after the main window closed"),
            rule(rig_.panel->link().is_shut_down(), "the link is still up after the main window closed"),
            rule(writesAfterClose_ == 0, "the driver was written to after the main window closed"),
            rule(rig_.log() == logAtClose_, "the events log changed after the main window closed"),
            rule(boxes_.afterShutDown.isEmpty(),
                 "a message box was asked for after the main window closed: " +
                     boxes_.afterShutDown.join(" | ")),
            rule(boxes_.open == 0, "a message box is still awaited after the close"),
        };
    }

    StormOptions options_;
    std::mt19937 random_;
    RandomBoxes boxes_;
    BasicPanelRig<> rig_;
    std::unique_ptr<QObject> timers_; // owns the timers that end faults; goes before the panel
    std::vector<Action> actions_;
    int step_ = 0;
    int faults_ = 0;

    WireAudit wire_;
    sim::SimTime lastCheck_ = sim::SimClock::now();
    std::array<std::uint8_t, 256> memoryAtStart_{};
    std::array<std::set<int>, 256> allowed_{};
    std::optional<int> editorColumn_;
    std::optional<int> pickedClock_;
    bool nestedLoopSeen_ = false;
    qint64 worstLatencyMs_ = 0;

    bool closed_ = false;
    int writesAfterClose_ = 0;
    QStringList logAtClose_;
    QString closeNote_;
};

TEST(OperatorStorm, RandomActionsKeepEveryRule) {
    StormOptions options;
    for (const QString& argument : QCoreApplication::arguments()) {
        bool ok = false;
        const auto value = argument.section('=', 1).toUInt(&ok);
        if (ok && argument.startsWith("--storm-seed=")) {
            options.seed = value;
        } else if (ok && argument.startsWith("--storm-actions=") && value <= INT_MAX) {
            options.actions = static_cast<int>(value);
        }
    }
    Storm storm(options);
    const QString why = storm.setUp();
    ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    const QString broken = storm.run();
    EXPECT_TRUE(broken.isEmpty()) << broken.toStdString();
    std::printf("operator storm: %s\n", qPrintable(storm.summary()));
}

} // namespace
} // namespace valve::testing
