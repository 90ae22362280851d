// A storm of random operator actions at the main window and the Custom
// Configuration window, on a slow simulated unit that misbehaves at random.
// After every action the program must still keep its word: one operation at a
// time on the line, the unit's memory changed only where the operator asked,
// the events log bounded, the event loop never stuck or nested, the controls
// usable; and closing the main window must end everything quietly.
//
// The run is reproducible in its actions from the seed:
//   test_operator_storm --storm-seed=N --storm-actions=N
// On a failure the seed and the last actions are printed.

#include "coro_test.h"
#include "link/event_log.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"
#include "protocol/session.h"
#include "sim/simulated_driver.h"
#include "storm_audits.h"
#include "storm_boxes.h"
#include "ui/custom_config_cell_editor.h"
#include "ui/custom_config_window.h"
#include "ui/events_log_view.h"
#include "ui/main_window.h"
#include "ui/main_window_controls.h"
#include "ui/panel.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <array>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <tuple>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

using namespace std::chrono_literals;

namespace valve::testing {
namespace {

using ui::MainWindowControls;

// --- what the run did, kept where a crash handler can still print it ---

constexpr std::size_t kTrailLength = 64;
constexpr std::size_t kTrailWidth = 200;
constexpr std::size_t kTrailShown = 50;
std::array<std::array<char, kTrailWidth>, kTrailLength> g_trail{};
std::size_t g_trailCount = 0;
std::array<char, 96> g_banner{};

void writeRaw(const char* text) {
    const auto ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

// Async-signal-safe: only fixed buffers and write(2).
void printTrail() {
    writeRaw(g_banner.data());
    const std::size_t shown = std::min(g_trailCount, kTrailShown);
    for (std::size_t i = g_trailCount - shown; i < g_trailCount; ++i) {
        writeRaw("  ");
        writeRaw(g_trail[i % kTrailLength].data());
        writeRaw("\n");
    }
}

void onFatalSignal(int signal) {
    writeRaw("\n*** fatal signal in the operator storm\n");
    printTrail();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void installCrashReport(std::uint32_t seed) {
    std::snprintf(g_banner.data(), g_banner.size(), "operator storm: --storm-seed=%u, last actions:\n", seed);
    g_trailCount = 0;
    for (const int signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) {
        std::signal(signal, onFatalSignal);
    }
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_set_death_callback(printTrail);
#endif
}

void recordAction(const QString& text) {
    const QByteArray bytes = text.toUtf8().left(kTrailWidth - 1);
    auto& slot = g_trail[g_trailCount % kTrailLength];
    slot.fill('\0');
    std::memcpy(slot.data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
    ++g_trailCount;
}

QString trailText() {
    QString text;
    const std::size_t shown = std::min(g_trailCount, kTrailShown);
    for (std::size_t i = g_trailCount - shown; i < g_trailCount; ++i) {
        text +=
            QStringLiteral("  ") + QString::fromUtf8(g_trail[i % kTrailLength].data()) + QStringLiteral("\n");
    }
    return text;
}

// --- options ---

struct StormOptions {
    std::uint32_t seed = 26;
    int actions = 3000;
};

StormOptions readOptions() {
    StormOptions options;
    for (const QString& argument : QCoreApplication::arguments()) {
        bool ok = false;
        const auto value = argument.section(QLatin1Char('='), 1).toUInt(&ok);
        if (ok && argument.startsWith(QStringLiteral("--storm-seed="))) {
            options.seed = value;
        } else if (ok && argument.startsWith(QStringLiteral("--storm-actions=")) && value <= INT_MAX) {
            options.actions = static_cast<int>(value);
        }
    }
    return options;
}

// --- the operator's hands ---

void pressKey(QWidget* widget, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

// Short texts are typed key by key; long ones arrive as a paste would.
void typeInto(QLineEdit* box, const QString& text) {
    if (!box->isEnabled() || box->isReadOnly()) {
        return; // the operator cannot type there
    }
    if (text.size() > 64) {
        box->insert(text);
        return;
    }
    for (const QChar c : text) {
        pressKey(box, c.toUpper().unicode(), QString(c));
    }
}

void clickAt(QWidget* widget, QPoint at) {
    const QPointF local(at);
    const QPointF global(widget->mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// Lets the program run for `ms` milliseconds (at least one pass of the loop).
// The storm's heartbeat timer wakes the loop every few milliseconds.
void spin(int ms) {
    QElapsedTimer clock;
    clock.start();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

QString shortened(const QString& text) {
    QString shown;
    for (const QChar c : text.left(24)) {
        shown += (c.unicode() < 0x20 || c.unicode() == 0x7F)
                     ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar('0'))
                     : QString(c);
    }
    if (text.size() > 24) {
        shown += QStringLiteral("...(%1 chars)").arg(text.size());
    }
    return QStringLiteral("\"") + shown + QStringLiteral("\"");
}

bool isByteText(const QString& text) {
    if (text.size() != 2) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
    });
}

// Texts an operator might put in a box: numbers near and past the limits,
// bytes in both cases, junk, characters from other scripts, control
// characters, and now and then a very long paste.
class TextMaker {
public:
    explicit TextMaker(std::mt19937& random) : random_(random) {}

    QString any() {
        switch (pick(9)) {
        case 0:
            return {};
        case 1:
            return QString::number(pick(300));
        case 2:
            return byteText();
        case 3:
            return oneOf({"-1", "255", "256", "65536", "0x10", " 5", "5 ", "1e309", "nan", "inf", "-0",
                          "604800", "604800.001", "12.5", "7,5", "+3"});
        case 4:
            return junk(1 + pick(8));
        case 5:
            return foreign(1 + pick(6));
        case 6:
            return junk(1 + pick(3)) + foreign(1 + pick(2));
        case 7:
            return pick(3) == 0 ? longText() : QString::number(pick(13));
        default:
            return QString::number(pick(13));
        }
    }
    // What goes into the cell editor: mostly a byte, sometimes not.
    QString cellText() {
        switch (pick(6)) {
        case 0:
            return any();
        case 1:
            return oneOf(
                {"5", "A5F", "G1", " 5", "\xd9\xa3\xd9\xa4", "\xef\xbc\xa1\xef\xbc\x95", "\xc3\x9f"});
        default:
            return byteText();
        }
    }
    QString byteText() {
        const QString text = QStringLiteral("%1").arg(pick(256), 2, 16, QChar('0'));
        return pick(2) == 0 ? text : text.toUpper();
    }
    QString longText() {
        const int length = 1000 + pick(9001);
        QString text;
        text.reserve(length);
        while (text.size() < length) {
            text += pick(3) == 0 ? foreign(1) : junk(1);
        }
        return text.left(length);
    }
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

private:
    QString oneOf(std::initializer_list<const char*> texts) {
        const auto index = static_cast<std::size_t>(pick(static_cast<int>(texts.size())));
        return QString::fromUtf8(*(texts.begin() + index));
    }
    QString junk(int length) {
        QString text;
        for (int i = 0; i < length; ++i) {
            const int kind = pick(10);
            if (kind == 0) {
                text += QChar(static_cast<char16_t>(pick(0x20))); // control characters, CR and NUL among them
            } else if (kind == 1) {
                text += QChar(u'\x7f');
            } else {
                text += QChar(static_cast<char16_t>(0x20 + pick(0x5F)));
            }
        }
        return text;
    }
    QString foreign(int length) {
        // Umlaut, sharp s, Cyrillic, Han, Arabic-Indic and full-width digits,
        // no-break space, right-to-left override, emoji, zero-width space,
        // dotless i, and a lone surrogate.
        static const QStringList pieces =
            QString::fromUtf8(
                "\xc3\x84|\xc3\x9f|\xd0\x96|\xe6\xbc\xa2|\xd9\xa3|\xef\xbc\x94|\xef\xbd\x81|\xc2\xa0|"
                "\xe2\x80\xae|\xf0\x9f\x98\x80|\xe2\x80\x8b|\xc4\xb1")
                .split(QLatin1Char('|'))
            << QString(QChar(0xD800));
        QString text;
        for (int i = 0; i < length; ++i) {
            text += pieces.at(pick(static_cast<int>(pieces.size())));
        }
        return text;
    }

    std::mt19937& random_;
};

// --- the storm ---

class Storm {
public:
    // The unit is slow enough that clicks overlap its answers: a tenth of
    // the real byte time, a millisecond to think, 3 ms per position step.
    static constexpr sim::SimDuration kByteTime = 100us;
    static constexpr auto kReplyTimeout = 60ms;
    static constexpr auto kReconnectPause = 20ms;
    static constexpr int kMaxWaitMs = 12;
    // The status of an injected driver failure; the driver never gives it by itself.
    static constexpr std::uint32_t kInjected = link::ft::OTHER_ERROR;

    explicit Storm(StormOptions options)
        : options_(options), random_(options.seed), text_(random_), boxes_(options.seed ^ 0x5eed5eedU),
          wire_(kReplyTimeout, kByteTime) {}

    ~Storm() {
        // Nothing of the program may be left waiting on the boxes or timers.
        faultTimers_.reset();
        if (panel_) {
            panel_->window().close();
            runUntil([this] { return boxes_.open() == 0; }, 2000ms);
            panel_.reset();
        }
    }

    // Brings the panel up on the unit; false with a message when it would not.
    bool setUp(QString& why) {
        driver_.addAdapter("NR Valve", sim::UnitTiming{kByteTime, 1ms, 3ms});
        auto& state = unit().state();
        std::mt19937 fill(options_.seed);
        for (auto& byte : state.memory) {
            byte = static_cast<std::uint8_t>(fill());
        }
        for (int i = 0; i < sim::UnitState::kErrorStackSize; ++i) {
            state.memory[sim::UnitState::kErrorStackFirst + i] = static_cast<std::uint8_t>(0x31 + i);
        }
        state.memory[sim::UnitState::kClockAddress] = 20;
        memory_.emplace(state.memory);
        // A cleared entry reads 0; the unit itself pushes its error codes.
        for (int i = 0; i < sim::UnitState::kErrorStackSize; ++i) {
            const auto address = static_cast<std::uint8_t>(sim::UnitState::kErrorStackFirst + i);
            for (int j = 0; j < sim::UnitState::kErrorStackSize; ++j) {
                memory_->allow(address, static_cast<std::uint8_t>(0x31 + j));
            }
            memory_->allow(address, sim::UnitState::kPositioningError);
            memory_->allow(address, sim::UnitState::kCommandError);
        }

        panel_ = std::make_unique<ui::Panel>(driver_, link::LinkTiming{kReplyTimeout, kReconnectPause, 1ms},
                                             ui::PanelPrompts{&boxes_, &chooser_});
        panel_->window().addShutDownStep([this] {
            boxes_.shutDown();
            closed_ = true;
        });
        if (!await(panel_->start())) {
            why = QStringLiteral("the panel did not start");
            return false;
        }
        if (panel_->log().lines().contains(QStringLiteral("Could not connect to Nerra using USB"))) {
            why = QStringLiteral("the panel did not connect: ") +
                  panel_->log().lines().join(QStringLiteral(" | "));
            return false;
        }
        // Close to its bound, so that the storm pushes the log over it.
        for (int i = panel_->log().lines().size(); i < link::EventLog::kMaxLines - 40; ++i) {
            panel_->log().show_msg(QStringLiteral("earlier line %1").arg(i));
        }
        faultTimers_ = std::make_unique<QObject>();
        heartbeat_ = new QTimer(faultTimers_.get());
        QObject::connect(heartbeat_, &QTimer::timeout, heartbeat_, [this] {
            // Fires only from the test's own loop; inside a nested loop the level shows.
            nestedLoopSeen_ = nestedLoopSeen_ || QThread::currentThread()->loopLevel() > 0;
        });
        heartbeat_->start(2);
        buildActions();
        return true;
    }

    // Runs the storm; the first broken rule, described with the seed and the
    // actions that led to it, or nothing.
    std::optional<QString> run() {
        installCrashReport(options_.seed);
        // In about a third of the runs the operator closes the window before the end.
        std::uniform_int_distribution<int> closeMoment(options_.actions * 3 / 4,
                                                       std::max(options_.actions * 3 / 2 - 1, 0));
        const int closeAt = closeMoment(random_);
        std::vector<double> weights;
        for (const auto& action : actions_) {
            weights.push_back(action.weight);
        }
        std::discrete_distribution<std::size_t> choose(weights.begin(), weights.end());
        std::uniform_int_distribution<int> wait(0, kMaxWaitMs);

        for (step_ = 0; step_ < options_.actions; ++step_) {
            const bool closeNow = step_ == closeAt;
            const std::size_t which = choose(random_);
            const int waitMs = wait(random_);
            QString what;
            if (closed_) {
                what = QStringLiteral("(skipped: the program has ended)");
            } else if (closeNow) {
                what = closeMainWindow();
            } else {
                what = actions_[which].name + QStringLiteral(" ") + actions_[which].act();
            }
            recordAction(QStringLiteral("#%1 %2; wait %3 ms").arg(step_).arg(what).arg(waitMs));
            if (closed_ && !closeNow) {
                continue;
            }
            spin(waitMs);
            if (auto broken = checkRules()) {
                return report(*broken);
            }
            if (closeNow) {
                if (auto broken = checkQuietEnd()) {
                    return report(*broken);
                }
            }
        }
        if (!closed_) {
            recordAction(QStringLiteral("#%1 close the main window at the end").arg(step_));
            closeMainWindow();
            if (auto broken = checkQuietEnd()) {
                return report(*broken);
            }
        }
        return std::nullopt;
    }

    [[nodiscard]] QString summary() const {
        return QStringLiteral(
                   "seed %1: %2 actions, %3 requests on the line (%9 memory writes, %10 moves), %4 overlaps "
                   "excused, %5 boxes, "
                   "%6 faults injected, longest zero-timer delay %7 ms, program closed at action %8")
                   .arg(options_.seed)
                   .arg(options_.actions)
                   .arg(wire_.requests())
                   .arg(wire_.excusedOverlaps())
                   .arg(boxes_.texts.size())
                   .arg(faults_)
                   .arg(worstLatencyMs_)
                   .arg(closedAtStep_)
                   .arg(wire_.requests('W'))
                   .arg(wire_.requests('P')) +
               QStringLiteral(": ") + closeNote_;
    }

private:
    struct Action {
        QString name;
        double weight;
        std::function<QString()> act; // returns the details worth reporting
    };

    sim::SimulatedUnit& unit() { return driver_.unit(0); }
    const MainWindowControls& c() { return panel_->window().controls(); }
    sim::SimTime now() const { return sim::SimClock::now(); }

    QString report(const QString& broken) const {
        return QStringLiteral("%1\nafter action #%2, --storm-seed=%3 --storm-actions=%4; last actions:\n%5")
            .arg(broken)
            .arg(step_)
            .arg(options_.seed)
            .arg(options_.actions)
            .arg(trailText());
    }

    // --- the actions ---

    void add(QString name, double weight, std::function<QString()> act) {
        actions_.push_back({std::move(name), weight, std::move(act)});
    }

    void addClick(QPushButton* button, double weight, std::function<void()> before = {}) {
        add(QStringLiteral("click ") + button->objectName(), weight, [this, button, before] {
            if (before) {
                before();
            }
            button->click();
            return QString();
        });
    }

    void buildActions() {
        const MainWindowControls& k = c();
        // Reads.
        for (QPushButton* button : {k.cmd_status, k.cmd_error, k.btnReadControl, k.cmd_fw_rev, k.cmd_op_mode,
                                    k.cmd_cmd_mode, k.cmd_clock, k.cmd_pos_a, k.cmd_pos_b, k.cmd_pos_c}) {
            addClick(button, 1.0);
        }
        // Moves.
        for (QPushButton* button : k.pos) {
            addClick(button, 0.5);
        }
        addClick(k.homing, 1.0);
        // Settings.
        for (QPushButton* button : {k.set_i2c_address, k.set_command, k.set_op_mode, k.set_cmd_mode,
                                    k.set_pos_a, k.set_pos_b, k.set_pos_c, k.set_baud}) {
            addClick(button, 1.0);
        }
        addClick(k.set_clock, 1.5, [this] {
            if (pickedClock_) {
                memory_->allow(sim::UnitState::kClockAddress, *pickedClock_);
            }
        });
        addClick(k.Command1, 3.0, [this] {
            findForm();
            if (!form_) {
                editorColumn_.reset(); // a new window, a new editor
            }
        });
        addClick(k.btnRun, 3.0);
        addClick(k.btnStop, 2.5);
        add(QStringLiteral("menu About"), 0.7, [this] {
            c().mnuAbout->trigger();
            return QString();
        });

        // Typing into the main window's boxes.
        std::vector<QLineEdit*> boxes = {
            k.position,      k.txt_status,    k.txt_error,       k.txt_control,  k.txt_set_i2c_address,
            k.txt_op_mode,   k.txt_fw_rev,    k.txt_set_op_mode, k.txt_cmd_mode, k.txt_set_pos_a,
            k.txt_set_pos_b, k.txt_set_pos_c, k.txt_pos_a,       k.txt_pos_b,    k.txt_pos_c,
            k.txt_clock};
        boxes.insert(boxes.end(), k.txtTime.begin(), k.txtTime.end());
        boxes.insert(boxes.end(), k.txtPos.begin(), k.txtPos.end());
        add(QStringLiteral("type into"), 8.0, [this, boxes] {
            QLineEdit* box = boxes[static_cast<std::size_t>(text_.pick(static_cast<int>(boxes.size())))];
            const bool replace = text_.pick(2) == 0;
            const QString text = text_.any();
            if (replace && box->isEnabled() && !box->isReadOnly()) {
                box->selectAll();
            }
            typeInto(box, text);
            return box->objectName() + QStringLiteral(" ") + shortened(text) +
                   (replace ? QStringLiteral(" over the old text") : QString());
        });
        add(QStringLiteral("fill timed events"), 3.0, [this] { return fillTimedEvents(); });

        // List picks.
        const auto addPick = [this](QComboBox* list, bool clock) {
            add(QStringLiteral("pick in ") + list->objectName(), 1.5, [this, list, clock] {
                const bool byKey = text_.pick(2) == 0;
                const int index = text_.pick(list->count());
                if (byKey) {
                    pressKey(list, text_.pick(3) == 0 ? Qt::Key_Up : Qt::Key_Down);
                } else {
                    list->setCurrentIndex(index);
                    emit list->activated(index);
                }
                if (clock && list->currentIndex() >= 0) {
                    pickedClock_ = static_cast<std::uint8_t>(list->itemData(list->currentIndex()).toInt());
                }
                return byKey ? QStringLiteral("by arrow key, now %1").arg(list->currentIndex())
                             : QStringLiteral("entry %1").arg(index);
            });
        };
        addPick(k.Combo_Clock, true);
        addPick(k.Combo_Baud_Rate, false);
        addPick(k.Combo_Cmd_Mode, false);
        add(QStringLiteral("select in lstControl"), 1.5, [this] {
            const int row = text_.pick(c().lstControl->count() + 1) - 1;
            if (row < 0) {
                c().lstControl->clearSelection();
            } else {
                c().lstControl->setCurrentRow(row);
            }
            return QStringLiteral("row %1").arg(row);
        });
        add(QStringLiteral("switch tab"), 1.0, [this] {
            const int tab = text_.pick(c().tabNR->count());
            c().tabNR->setCurrentIndex(tab);
            return QString::number(tab);
        });
        add(QStringLiteral("wait until the link is idle"), 1.5, [this] {
            runUntil([this] { return !panel_->link().operations().busy(); }, 3000ms);
            return QString();
        });

        // The Custom Configuration window.
        const std::tuple<const char*, double, const char*> formButtons[] = {
            {"Read", 3.0, "data_read"},
            {"Write", 3.5, "data_write"},
            {"Read Error Stack", 1.5, "read_err_stack"}};
        for (const auto& [name, weight, button] : formButtons) {
            add(QStringLiteral("form ") + QLatin1String(name), weight,
                [this, button = button] { return formButton(button); });
        }
        add(QStringLiteral("form Clear Error Stack"), 1.5, [this] {
            for (int i = 0; i < sim::UnitState::kErrorStackSize; ++i) {
                memory_->allow(static_cast<std::uint8_t>(sim::UnitState::kErrorStackFirst + i), 0);
            }
            return formButton("clear_err_stack");
        });
        add(QStringLiteral("form grid click"), 5.0, [this] {
            const int row = text_.pick(5) == 0 ? 0 : 1;
            const int column = text_.pick(17);
            return clickCell(row, column);
        });
        add(QStringLiteral("form edit a cell"), 5.0, [this] {
            const int column = 1 + text_.pick(16);
            const QString text = text_.cellText();
            const bool escape = text_.pick(6) == 0;
            QString done = clickCell(1, column);
            done += QStringLiteral(", type ") + typeIntoEditor(text);
            done += QStringLiteral(", ") + (escape ? editorKey(Qt::Key_Escape) : editorKey(Qt::Key_Return));
            return done;
        });
        add(QStringLiteral("form type into the editor"), 3.0,
            [this] { return typeIntoEditor(text_.cellText()); });
        add(QStringLiteral("form Enter"), 3.0, [this] { return editorKey(Qt::Key_Return); });
        add(QStringLiteral("form Escape"), 1.5, [this] { return editorKey(Qt::Key_Escape); });
        add(QStringLiteral("form type into a box"), 1.0, [this] {
            const int which = text_.pick(6);
            const QString text = text_.any();
            if (!form_) {
                return QStringLiteral("(no window)");
            }
            const QString name =
                which == 0 ? QStringLiteral("stat") : QStringLiteral("err_stack_%1").arg(which - 1);
            if (auto* box = form_->findChild<QLineEdit*>(name)) {
                typeInto(box, text);
            }
            return name + QStringLiteral(" ") + shortened(text);
        });
        add(QStringLiteral("form close"), 1.5, [this] {
            if (!form_) {
                return QStringLiteral("(no window)");
            }
            form_->close();
            return QString();
        });

        // The unit and the adapter misbehave.
        add(QStringLiteral("fault: unit off"), 0.8, [this] { return unitOff(); });
        add(QStringLiteral("fault: partial replies"), 0.8, [this] {
            const auto keep = static_cast<std::size_t>(text_.pick(3));
            const int times = 1 + text_.pick(2);
            unit().truncateReplies(keep, times);
            ++faults_;
            return QStringLiteral("keep %1, %2 times").arg(keep).arg(times);
        });
        add(QStringLiteral("fault: garbage reply"), 1.5, [this] { return garbageReply(); });
        add(QStringLiteral("fault: delayed replies"), 1.5, [this] {
            const bool late = text_.pick(2) == 0;
            const int extraMs =
                late ? static_cast<int>(kReplyTimeout.count()) + 5 + text_.pick(40) : 2 + text_.pick(25);
            const int times = 1 + text_.pick(2);
            unit().delayReplies(std::chrono::milliseconds{extraMs}, times);
            ++faults_;
            return QStringLiteral("by %1 ms, %2 times").arg(extraMs).arg(times);
        });
        add(QStringLiteral("fault: driver call fails"), 1.5, [this] { return driverCallFails(); });
        add(QStringLiteral("fault: read with IO error"), 0.4, [this] {
            driver_.readReturnsStatus(link::ft::IO_ERROR, 1);
            ++faults_;
            return QString();
        });
        add(QStringLiteral("fault: unplug"), 0.4, [this] { return unplug(); });
    }

    QString fillTimedEvents() {
        const int first = text_.pick(20);
        const int count = 1 + text_.pick(4);
        double time = text_.pick(3) == 0 ? 0.0 : text_.pick(100) / 1000.0;
        QStringList rows;
        for (int row = first; row < std::min(20, first + count); ++row) {
            // Now and then junk, nothing, past a week, or back in time.
            const int timeKind = text_.pick(10);
            if (timeKind > 3) {
                time += text_.pick(80) / 1000.0;
            }
            const QString timeText = timeKind == 0   ? text_.any()
                                     : timeKind == 1 ? QString()
                                     : timeKind == 2 ? QStringLiteral("604800.5")
                                                     : QString::number(timeKind == 3 ? time - 0.05 : time);
            const int posKind = text_.pick(8);
            const QString posText = posKind == 0 ? text_.any()
                                    : posKind == 1
                                        ? QString::number(text_.pick(2) == 0 ? 0 : 13 + text_.pick(243))
                                        : QString::number(1 + text_.pick(12));
            // What the operator cannot reach stays as it is.
            if (c().txtTime[static_cast<std::size_t>(row)]->isEnabled()) {
                c().txtTime[static_cast<std::size_t>(row)]->setText(timeText);
            }
            if (c().txtPos[static_cast<std::size_t>(row)]->isEnabled()) {
                c().txtPos[static_cast<std::size_t>(row)]->setText(posText);
            }
            rows
                << QStringLiteral("%1: %2 s at %3").arg(row + 1).arg(shortened(timeText), shortened(posText));
        }
        return rows.join(QStringLiteral(", "));
    }

    // The open Custom Configuration window, looked up afresh.
    void findForm() {
        form_.clear();
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* form = qobject_cast<ui::CustomConfigWindow*>(widget); form && form->isVisible()) {
                form_ = form;
            }
        }
    }

    QString formButton(const char* name) {
        if (!form_) {
            return QStringLiteral("(no window)");
        }
        form_->findChild<QPushButton*>(QString::fromLatin1(name))->click();
        return QString();
    }

    QString clickCell(int row, int column) {
        if (!form_) {
            return QStringLiteral("(no window)");
        }
        auto* grid = form_->findChild<QTableWidget*>(QStringLiteral("MSFlexGrid1"));
        clickAt(grid->viewport(), grid->visualItemRect(grid->item(row, column)).center());
        if (row == 1 && column >= 1) {
            editorColumn_ = column; // the editor opens over the clicked cell
        }
        return QStringLiteral("cell %1,%2").arg(row).arg(column);
    }

    ui::CellEditor* editor() {
        return form_ ? form_->findChild<ui::CellEditor*>(QStringLiteral("Text1")) : nullptr;
    }

    QString typeIntoEditor(const QString& text) {
        ui::CellEditor* text1 = editor();
        if (text1 == nullptr || !text1->isVisible()) {
            return shortened(text) + QStringLiteral(" (no editor open)");
        }
        typeInto(text1, text);
        return shortened(text);
    }

    QString editorKey(int key) {
        ui::CellEditor* text1 = editor();
        if (text1 == nullptr || !text1->isVisible()) {
            return QStringLiteral("(no editor open)");
        }
        const QString text = text1->text().toUpper();
        if (key == Qt::Key_Return && isByteText(text) && editorColumn_) {
            memory_->allow(static_cast<std::uint8_t>(0x0F + *editorColumn_),
                           static_cast<std::uint8_t>(text.toUInt(nullptr, 16)));
        }
        pressKey(text1, key);
        return (key == Qt::Key_Return ? QStringLiteral("Enter on ") : QStringLiteral("Escape on ")) +
               shortened(text);
    }

    // --- faults ---

    QString unitOff() {
        const int ms = 10 + text_.pick(200);
        unit().setPowered(false);
        ++faults_;
        QTimer::singleShot(ms, faultTimers_.get(), [this] { unit().setPowered(true); });
        return QStringLiteral("for %1 ms").arg(ms);
    }

    QString garbageReply() {
        // A reply of the right length but the wrong content: the line stays in step.
        static const char codes[] = "SERQD123GPMIWXFABCON";
        const char code = codes[text_.pick(static_cast<int>(sizeof codes - 1))];
        const bool valueReply = QByteArray("SERQD123G").contains(code);
        QByteArray reply;
        for (int i = 0; i < (valueReply ? 3 : 1); ++i) {
            const int kind = text_.pick(3);
            reply.append(kind == 0 ? static_cast<char>(text_.pick(256))
                                   : QByteArray("0123456789ABCDEFabcdef")[text_.pick(22)]);
        }
        unit().scriptReply(reply, code);
        ++faults_;
        return QStringLiteral("for %1: %2").arg(QChar(code)).arg(QString::fromLatin1(reply.toHex()));
    }

    QString driverCallFails() {
        static const std::array<sim::DriverCall, 8> calls = {
            sim::DriverCall::Write,          sim::DriverCall::Read,       sim::DriverCall::GetQueueStatus,
            sim::DriverCall::SetFlowControl, sim::DriverCall::Purge,      sim::DriverCall::OpenEx,
            sim::DriverCall::SetBaudRate,    sim::DriverCall::SetTimeouts};
        const auto call = calls[static_cast<std::size_t>(text_.pick(static_cast<int>(calls.size())))];
        const int after = text_.pick(6);
        driver_.failCall(call, kInjected, 1, after);
        ++faults_;
        return sim::driverCallName(call) + QStringLiteral(" after %1 calls").arg(after);
    }

    QString unplug() {
        if (!driver_.pluggedIn(0)) {
            return QStringLiteral("(already out)");
        }
        const int ms = 10 + text_.pick(150);
        driver_.unplug(0);
        ++faults_;
        // Everything on the line is lost with the adapter: nothing stays owed.
        QTimer::singleShot(ms, faultTimers_.get(), [this] { driver_.replug(0); });
        return QStringLiteral("for %1 ms").arg(ms);
    }

    // An injected driver failure makes an operation end before the unit has
    // answered; the failure shows in the call log, in the last step's span.
    void noteDriverFailures() {
        for (const auto& record : driver_.callLog()) {
            if (closed_ && record.call == sim::DriverCall::Write) {
                ++writesAfterClose_;
            }
            if (record.status != kInjected) {
                continue;
            }
            wire_.excuse(lastCheck_ - 1ms, now());
        }
        driver_.clearCallLog();
    }

    // --- closing ---

    QString closeMainWindow() {
        noteDriverFailures();
        findForm();
        logAtClose_ = panel_->log().lines();
        boxesAtClose_ = boxes_.askedAfterShutDown;
        closedAtStep_ = step_;
        QPointer<ui::CustomConfigWindow> form = form_;
        const bool linkBusy = panel_->link().operations().busy();
        const int boxesOpen = boxes_.open();
        panel_->window().close();
        formGoneAfterClose_ = form.isNull() || !form->isVisible();
        closeNote_ = QStringLiteral("close the main window (Custom Configuration %1, link %2, %3 boxes open)")
                         .arg(form ? QStringLiteral("open") : QStringLiteral("closed"),
                              linkBusy ? QStringLiteral("busy") : QStringLiteral("idle"))
                         .arg(boxesOpen);
        return closeNote_;
    }

    // After the close: nothing more on the line, in the log or in a box; the
    // Custom Configuration window gone; the panel can go without a trace.
    std::optional<QString> checkQuietEnd() {
        spin(static_cast<int>(3 * kReplyTimeout.count()) + 50);
        runUntil([this] { return boxes_.open() == 0; }, 2000ms);
        noteDriverFailures();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        findForm();
        if (!closed_) {
            return QStringLiteral("closing the main window did not shut the program down");
        }
        if (!formGoneAfterClose_ || form_) {
            return QStringLiteral("the Custom Configuration window stayed open after the main window closed");
        }
        if (!panel_->link().is_shut_down()) {
            return QStringLiteral("the link is still up after the main window closed");
        }
        if (writesAfterClose_ > 0) {
            return QStringLiteral("%1 driver writes after the main window closed").arg(writesAfterClose_);
        }
        if (const QStringList& now = panel_->log().lines(); now != logAtClose_) {
            const auto lastThree = [](const QStringList& lines) {
                return lines.mid(std::max<qsizetype>(0, lines.size() - 3)).join(QStringLiteral(" | "));
            };
            return QStringLiteral("the events log changed after the main window closed: %1 lines before, %2 "
                                  "after, last before: %3; last after: %4")
                .arg(logAtClose_.size())
                .arg(now.size())
                .arg(lastThree(logAtClose_), lastThree(now));
        }
        if (boxes_.askedAfterShutDown != boxesAtClose_) {
            return QStringLiteral("a message box was asked for after the main window closed: ") +
                   boxes_.lastAskedAfterShutDown;
        }
        if (boxes_.open() != 0) {
            return QStringLiteral("a message box is still awaited after the close");
        }
        panel_.reset();
        spin(20);
        return std::nullopt;
    }

    // --- the rules ---

    std::optional<QString> checkRules() {
        noteDriverFailures();
        lastCheck_ = now();
        findForm();
        if (auto broken = wire_.check(unit().wire())) {
            return QStringLiteral("two operations talked to the unit at once: ") + *broken;
        }
        if (auto broken = memory_->check(unit().state().memory)) {
            return *broken;
        }
        const auto lines = panel_->log().lines().size();
        if (lines > link::EventLog::kMaxLines || c().LoggerList->count() > link::EventLog::kMaxLines) {
            return QStringLiteral("the events log holds %1 lines (%2 shown)")
                .arg(lines)
                .arg(c().LoggerList->count());
        }
        if (nestedLoopSeen_) {
            return QStringLiteral("a timer fired inside a nested event loop");
        }
        // A zero-time timer fires at once when nothing hogs the thread.
        auto fired = std::make_shared<bool>(false);
        QElapsedTimer latency;
        latency.start();
        QTimer::singleShot(0, faultTimers_.get(), [fired] { *fired = true; });
        if (!runUntil([fired] { return *fired; }, 1000ms)) {
            return QStringLiteral("a zero-time timer did not fire within 1 s");
        }
        worstLatencyMs_ = std::max(worstLatencyMs_, latency.elapsed());
        if (closed_) {
            return std::nullopt;
        }
        if (auto broken = checkControls()) {
            return broken;
        }
        return checkForm();
    }

    // No handler disables anything but a timed run's "Run" and row boxes.
    std::optional<QString> checkControls() {
        const MainWindowControls& k = c();
        if (!panel_->window().isVisible()) {
            return QStringLiteral("the main window is no longer shown");
        }
        for (QWidget* widget : panel_->window().findChildren<QWidget*>()) {
            const bool mayBeDisabled =
                widget == k.btnRun ||
                std::find(k.txtTime.begin(), k.txtTime.end(), widget) != k.txtTime.end() ||
                std::find(k.txtPos.begin(), k.txtPos.end(), widget) != k.txtPos.end();
            if (!mayBeDisabled && !widget->isEnabled() && qobject_cast<QPushButton*>(widget) != nullptr) {
                return QStringLiteral("the button %1 is disabled").arg(widget->objectName());
            }
        }
        if (!k.mnuAbout->isEnabled() || !k.btnStop->isEnabled()) {
            return QStringLiteral("About or Stop is disabled");
        }
        return std::nullopt;
    }

    // A marked cell holds what an edit stored: two upper-case hex digits.
    std::optional<QString> checkForm() {
        if (!form_) {
            return std::nullopt;
        }
        for (int column = 1; column <= 16; ++column) {
            const auto& cell = form_->memory().cell(column);
            if (cell.changed && !isByteText(cell.text)) {
                return QStringLiteral("grid cell %1 is marked for writing but holds %2")
                    .arg(column)
                    .arg(shortened(cell.text));
            }
        }
        return std::nullopt;
    }

    StormOptions options_;
    std::mt19937 random_;
    TextMaker text_;
    sim::SimulatedDriver driver_;
    RandomBoxes boxes_;
    PickingChooser chooser_;
    std::unique_ptr<ui::Panel> panel_;
    std::unique_ptr<QObject> faultTimers_; // owns the timers that end faults; goes before the panel
    QTimer* heartbeat_ = nullptr;

    std::vector<Action> actions_;
    int step_ = 0;
    WireAudit wire_;
    std::optional<MemoryAudit> memory_;
    sim::SimTime lastCheck_ = sim::SimClock::now();
    QPointer<ui::CustomConfigWindow> form_;
    std::optional<int> editorColumn_;
    std::optional<std::uint8_t> pickedClock_;
    bool nestedLoopSeen_ = false;
    qint64 worstLatencyMs_ = 0;
    int faults_ = 0;

    bool closed_ = false;
    int closedAtStep_ = -1;
    bool formGoneAfterClose_ = false;
    int writesAfterClose_ = 0;
    int boxesAtClose_ = 0;
    QStringList logAtClose_;
    QString closeNote_;
};

TEST(OperatorStorm, RandomActionsKeepEveryRule) {
    const StormOptions options = readOptions();
    Storm storm(options);
    QString why;
    ASSERT_TRUE(storm.setUp(why)) << why.toStdString();
    const auto broken = storm.run();
    EXPECT_FALSE(broken.has_value()) << broken.value_or(QString()).toStdString();
    std::printf("operator storm: %s\n", qPrintable(storm.summary()));
}

} // namespace
} // namespace valve::testing
