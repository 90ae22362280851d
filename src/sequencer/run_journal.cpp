#include "run_journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace valve::sequencer {

namespace {

const QString kSuffix = QStringLiteral(".jsonl");

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Writes all of `data`; false with errno set when the disk refuses.
bool writeAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    std::size_t left = static_cast<std::size_t>(data.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Makes a new file's name in its folder last through a power cut.
void syncFolder(const QString& dir) {
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString baseId(const QDateTime& start) {
    return start.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")) + u'-' +
           QString::number(QCoreApplication::applicationPid());
}

} // namespace

RunJournal::RunJournal(JournalFolder& folder, int fd, QString id)
    : folder_(folder), fd_(fd), id_(std::move(id)) {}

RunJournal::~RunJournal() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void RunJournal::fail() {
    folder_.trouble(errnoText());
    ::close(fd_);
    fd_ = -1; // a half-written line stays the last: readers leave it out
}

void RunJournal::append(const QByteArray& line, bool sync) {
    if (fd_ < 0) {
        return;
    }
    if (!writeAll(fd_, line)) {
        fail();
        return;
    }
    unsynced_ = true;
    if (sync) {
        this->sync();
    }
}

void RunJournal::sync() {
    if (fd_ < 0 || !unsynced_) {
        return;
    }
    if (::fdatasync(fd_) != 0) {
        fail();
        return;
    }
    unsynced_ = false;
    if (!named_) {
        syncFolder(folder_.dir());
        named_ = true;
    }
}

void RunJournal::sent(const StepRecord& step) {
    append(sentLine(step));
}

void RunJournal::answered(const StepRecord& step) {
    append(answeredLine(step));
}

void RunJournal::heldUp(const HoldUp& holdUp) {
    append(holdUpLine(holdUp));
}

void RunJournal::ended(const JournalEnd& end) {
    append(endLine(end));
}

JournalFolder::JournalFolder(QString dir) : dir_(std::move(dir)) {}

QString JournalFolder::defaultDir() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state)) {
        state = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return state + QStringLiteral("/valve-panel/runs");
}

std::unique_ptr<RunJournal> JournalFolder::begin(const JournalHeader& header, const Say& say) {
    say_ = say;
    if (!QDir().mkpath(dir_)) {
        trouble(QStringLiteral("the folder cannot be made"));
        return nullptr;
    }
    // Two runs may start in the same second of one program.
    const QString base = baseId(header.start);
    QString id = base;
    int fd = -1;
    for (int n = 2; n < 100; ++n) {
        fd = ::open(QFile::encodeName(pathOf(id)).constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) {
            break;
        }
        id = base + u'-' + QString::number(n);
    }
    if (fd < 0) {
        trouble(errnoText());
        return nullptr;
    }
    auto journal = std::make_unique<RunJournal>(*this, fd, id);
    journal->append(headerLine(header), false);
    if (!journal->writing()) {
        return nullptr;
    }
    told_ = false; // written again: a later failure is news
    removeOldest();
    return journal;
}

bool JournalFolder::abandon(const QString& id) const {
    if (!isJournalId(id)) {
        return false;
    }
    const QString path = pathOf(id);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // A line cut off by a power cut, which readers leave out, goes: the end
    // line would be read as part of it and make the journal damaged.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray contents = file.readAll();
        if (!contents.endsWith('\n') && ::ftruncate(fd, contents.lastIndexOf('\n') + 1) != 0) {
            ::close(fd);
            return false;
        }
    }
    const bool written = writeAll(fd, endLine({kEndAbandoned, {}, {}, QDateTime::currentDateTimeUtc()})) &&
                         ::fdatasync(fd) == 0;
    ::close(fd);
    return written;
}

QStringList JournalFolder::ids() const {
    QStringList names = QDir(dir_).entryList({QStringLiteral("*") + kSuffix}, QDir::Files);
    for (QString& name : names) {
        name.chop(kSuffix.size());
    }
    // By the start in the name, and within a second by the number after it.
    std::sort(names.begin(), names.end(), std::greater<>());
    return names;
}

QString JournalFolder::pathOf(const QString& id) const {
    return dir_ + u'/' + id + kSuffix;
}

void JournalFolder::trouble(const QString& what) {
    if (told_) {
        return;
    }
    told_ = true;
    if (say_) {
        say_(QStringLiteral("The run's journal cannot be written in %1 (%2); the run goes on without it")
                 .arg(QDir::toNativeSeparators(dir_), what));
    }
}

void JournalFolder::removeOldest() const {
    const QStringList all = ids();
    for (qsizetype i = kKept; i < all.size(); ++i) {
        QFile::remove(pathOf(all[i]));
    }
}

bool isJournalId(const QString& id) {
    static const QRegularExpression kId(QStringLiteral("^[0-9A-Za-z-]{1,64}$"));
    return kId.match(id).hasMatch();
}

QString runState(const Journal& journal, const QString& id) {
    if (journal.end) {
        return journal.end->how;
    }
    // The id names the writing process; in the same boot, one that still
    // runs is writing it still.
    const QString pid = id.section(u'-', 2, 2);
    const bool sameBoot = !journal.header.bootId.isEmpty() && journal.header.bootId == currentBootId();
    const bool alive = !pid.isEmpty() && QFile::exists(QStringLiteral("/proc/") + pid);
    return sameBoot && alive ? kUnderWay : kCutShort;
}

QString currentBootId() {
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromLatin1(file.readAll()).trimmed();
}

} // namespace valve::sequencer
