#pragma once

#include "journal_format.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace valve::sequencer {

class JournalFolder;

// The journal of one run as it is written. Each line goes to the disk
// (fdatasync) before the call returns, the header excepted: it goes with
// sync() or the next line, so that a step due at once does not wait for the
// disk. The caller writes a step's "sent" line only once the move is on its
// way. A line that cannot be written is said once, and the journal then stays
// as it is: the run goes on.
class RunJournal {
public:
    RunJournal(JournalFolder& folder, int fd, QString id);
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    void sent(const StepRecord& step);
    void answered(const StepRecord& step);
    void heldUp(const HoldUp& holdUp);
    void ended(const JournalEnd& end);
    // Brings what is written to the disk, the file's name in its folder included.
    void sync();
    [[nodiscard]] bool unsynced() const { return unsynced_; }

    [[nodiscard]] const QString& id() const { return id_; }
    // False once a line could not be written.
    [[nodiscard]] bool writing() const { return fd_ >= 0; }

private:
    friend class JournalFolder;
    void append(const QByteArray& line, bool sync = true);
    void fail();

    JournalFolder& folder_;
    int fd_;
    QString id_;
    bool unsynced_ = false;
    bool named_ = false; // the folder has been synced since the file was made
};

// The folder of run journals: one file a run, named by its start on the wall
// clock. The newest kKept are kept.
class JournalFolder {
public:
    static constexpr int kKept = 200;
    // Where the events log is told that journals cannot be written.
    using Say = std::function<void(const QString&)>;

    explicit JournalFolder(QString dir = defaultDir());

    // $XDG_STATE_HOME/valve-panel/runs, by default ~/.local/state/valve-panel/runs.
    static QString defaultDir();

    // Starts the journal of a run with its header, and removes the oldest
    // beyond kKept. None when the folder cannot be written: that is said
    // through `say`, once for as long as the folder stays unwritable.
    std::unique_ptr<RunJournal> begin(const JournalHeader& header, const Say& say);

    // Ends the journal of a run cut short "abandoned", brought to the disk, so
    // that it is offered for resuming no more; false when it cannot be written.
    bool abandon(const QString& id) const;

    // The journals' ids, newest first.
    [[nodiscard]] QStringList ids() const;
    [[nodiscard]] QString pathOf(const QString& id) const;
    [[nodiscard]] const QString& dir() const { return dir_; }

private:
    friend class RunJournal;
    void trouble(const QString& what);
    void removeOldest() const;

    QString dir_;
    Say say_;
    bool told_ = false;
};

// The boot the computer is in now; empty where the system does not tell.
QString currentBootId();

// A name a journal can have: letters, digits and dashes, so that no id
// reaches outside the folder.
bool isJournalId(const QString& id);

// How a run stands by its journal: how it ended; "under way" while the
// program that writes it still runs; "cut short" when it ended without a word.
QString runState(const Journal& journal, const QString& id);
inline const QString kUnderWay = QStringLiteral("under way");
inline const QString kCutShort = QStringLiteral("cut short");

} // namespace valve::sequencer
