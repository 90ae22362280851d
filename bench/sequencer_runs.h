#pragma once

// The timed event run four times: on a quiet machine and with every core kept
// busy by CPU hogs at normal priority, each with the logic thread's priority
// left alone and raised through RealtimeKit as the panel raises it; and twice
// more keeping its journal, quiet and busy with the priority raised.
//
// The raise comes from the RealtimeKit of the system bus; where there is none,
// from rtkit-daemon on a private bus of this process (which needs root), with
// the test's stand-in for its policy service. Where neither can be had, the
// raised runs are left out and stderr says so.
#include "private_realtimekit.h"
#include "sequencer/realtimekit_priority.h"
#include "sequencer_run.h"

#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace valve::bench {

// One child process per core that spins at normal priority until destroyed.
// They stay in the benchmark's session: where the kernel groups processes by
// session (autogroup), a thread's nice level weighs only against its own group.
class CpuHogs {
public:
    explicit CpuHogs(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            const pid_t child = ::fork();
            if (child == 0) {
                volatile std::uint64_t spins = 0;
                for (;;) {
                    spins = spins + 1;
                }
            }
            if (child > 0) {
                children_.push_back(child);
            }
        }
    }
    ~CpuHogs() {
        for (const pid_t child : children_) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }
    CpuHogs(const CpuHogs&) = delete;
    CpuHogs& operator=(const CpuHogs&) = delete;

private:
    std::vector<pid_t> children_;
};

// A RealtimeKit to raise the logic thread with, found or started.
class BenchPriority {
public:
    BenchPriority() {
        if (answers(QDBusConnection::systemBus())) {
            raiser_ = std::make_unique<sequencer::RealtimeKitPriority>();
            where_ = "the system bus's RealtimeKit";
            return;
        }
        kit_ = std::make_unique<testing::PrivateRealtimeKit>(true);
        if (kit_->serving()) {
            raiser_ = std::make_unique<sequencer::RealtimeKitPriority>(
                QDBusConnection::connectToBus(kit_->address(), QStringLiteral("bench rtkit")));
            where_ = "rtkit-daemon on a private system bus";
        } else {
            where_ = "none: no RealtimeKit on the system bus, and " + kit_->whyNot().toStdString();
        }
    }

    [[nodiscard]] sequencer::PriorityRaiser* raiser() const { return raiser_.get(); }
    [[nodiscard]] const std::string& where() const { return where_; }

private:
    // Blocking calls are fine here: the benchmark has not started yet.
    static bool answers(const QDBusConnection& bus) {
        if (!bus.isConnected()) {
            return false;
        }
        QDBusMessage get = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.RealtimeKit1"), QStringLiteral("/org/freedesktop/RealtimeKit1"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.freedesktop.RealtimeKit1") << QStringLiteral("MinNiceLevel");
        return QDBusConnection(bus).call(get, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage;
    }

    std::unique_ptr<testing::PrivateRealtimeKit> kit_;
    std::unique_ptr<sequencer::RealtimeKitPriority> raiser_;
    std::string where_;
};

inline bool onTmpfs(const QString& path) {
    struct statfs fs {};
    return statfs(QFile::encodeName(path).constData(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

// False when a run did not complete.
inline bool reportSequencerRuns(Report& report) {
    BenchPriority priority;
    std::fprintf(stderr, "sequencer runs: priority raised by %s\n", priority.where().c_str());
    struct Variant {
        const char* prefix;
        bool busy;
        bool raised;
        bool journal = false; // the run keeps its journal, each line brought to the disk
    };
    constexpr Variant kVariants[] = {
        {"sequencer_", false, false},           {"sequencer_journal_", false, false, true},
        {"sequencer_raised_", false, true},     {"busy_sequencer_", true, false},
        {"busy_sequencer_raised_", true, true}, {"busy_sequencer_raised_journal_", true, true, true},
    };
    // On the disk the benchmark runs from, as the operator's state folder is.
    QTemporaryDir journalDir(QDir::currentPath() + QStringLiteral("/journal-bench-XXXXXX"));
    sequencer::JournalFolder journals(journalDir.path());
    report.add("journal_folder_on_tmpfs", onTmpfs(journalDir.path()) ? 1 : 0,
               "1: the journal figures are not a disk's");
    bool complete = true;
    for (const Variant& variant : kVariants) {
        if (variant.raised && priority.raiser() == nullptr) {
            continue;
        }
        std::unique_ptr<CpuHogs> hogs;
        if (variant.busy) {
            hogs = std::make_unique<CpuHogs>(std::max(1u, std::thread::hardware_concurrency()));
        }
        SequencerRun run(variant.raised ? priority.raiser() : nullptr, variant.journal ? &journals : nullptr);
        complete = run.report(report, variant.prefix) && complete;
    }
    return complete;
}

} // namespace valve::bench
