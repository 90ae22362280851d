#include "sequencer/logind_sleep_inhibitor.h"
#include "sequencer_rig.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

using namespace valve;
using sequencer::RowLook;
using valve::testing::runUntil;
using valve::testing::SequencerRig;

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");

// A message bus of the test's own.
class PrivateBus {
public:
    PrivateBus() {
        daemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
        if (daemon_.waitForReadyRead(5000)) {
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        }
    }
    ~PrivateBus() {
        for (const auto& name : names_) {
            QDBusConnection::disconnectFromBus(name);
        }
        daemon_.kill();
        daemon_.waitForFinished();
    }
    QDBusConnection connect(const QString& name) {
        names_ << name;
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

// The login manager's Inhibit: it hands out the write end of a pipe, and the
// lock lasts until every copy of that end is closed.
class LogindStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~LogindStandIn() override {
        if (lockEnd >= 0) {
            ::close(lockEnd);
        }
    }
    [[nodiscard]] bool held() const {
        pollfd closed{lockEnd, POLLIN, 0};
        return lockEnd >= 0 && ::poll(&closed, 1, 0) == 0;
    }

    bool refuse = false;
    QStringList asked;
    int lockEnd = -1;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString&, const QString&,
                                    const QString& mode) {
        asked << what + '/' + mode;
        int ends[2];
        if (refuse || ::pipe2(ends, O_CLOEXEC) != 0) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not allowed"));
            return {};
        }
        lockEnd = ends[0];
        QDBusUnixFileDescriptor handed(ends[1]);
        ::close(ends[1]);
        return handed;
    }
};

enum class Logind { Grants, Refuses, Absent, VanishesDuringRun, NoBus };

class RunSleepLock : public ::testing::TestWithParam<Logind> {};

TEST_P(RunSleepLock, IsHeldWhileTheRunLastsAndAFailureIsOneLineWhileTheRunGoesOn) {
    const Logind logind = GetParam();
    PrivateBus bus;
    LogindStandIn standIn;
    standIn.refuse = logind == Logind::Refuses;
    QDBusConnection server = bus.connect(QStringLiteral("stand-in"));
    ASSERT_TRUE(server.isConnected()) << "dbus-daemon did not start";
    const bool listens = logind != Logind::Absent && logind != Logind::NoBus;
    if (listens) {
        ASSERT_TRUE(server.registerService(kLogind));
        ASSERT_TRUE(server.registerObject(QStringLiteral("/org/freedesktop/login1"), &standIn,
                                          QDBusConnection::ExportAllSlots));
    }
    sequencer::LogindSleepInhibitor inhibitor(
        logind == Logind::NoBus
            ? QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), "none")
            : bus.connect(QStringLiteral("panel")));
    SequencerRig rig(sim::UnitTiming::instant(), {.inhibitor = &inhibitor});
    rig.setRows({{"0", "2"}, {"0.3", "3"}});
    rig.startRun();

    ASSERT_TRUE(runUntil([&] { return rig.table.look(1) == RowLook::Current; }));
    const bool granted = logind == Logind::Grants || logind == Logind::VanishesDuringRun;
    if (granted) {
        ASSERT_TRUE(runUntil([&] { return standIn.lockEnd >= 0; }));
        EXPECT_TRUE(standIn.held());
    }
    if (logind == Logind::VanishesDuringRun) {
        server.unregisterService(kLogind);
    }
    ASSERT_TRUE(runUntil([&] { return rig.runEnded; }));

    EXPECT_EQ(rig.moves(), QList<QByteArray>({"P02\r", "P03\r"}));
    EXPECT_EQ(rig.log.lines().count(QStringLiteral("The run cannot keep the computer from going to sleep")),
              logind == Logind::Grants ? 0 : 1);
    EXPECT_EQ(standIn.asked, listens ? QStringList{"sleep/block"} : QStringList{});
    if (granted) {
        EXPECT_TRUE(runUntil([&] { return !standIn.held(); }));
    }
}

std::string nameOf(const ::testing::TestParamInfo<Logind>& info) {
    constexpr const char* kNames[] = {"Grants", "Refuses", "Absent", "Vanishes", "NoBus"};
    return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Logind, RunSleepLock,
                         ::testing::Values(Logind::Grants, Logind::Refuses, Logind::Absent,
                                           Logind::VanishesDuringRun, Logind::NoBus),
                         nameOf);

} // namespace

#include "test_sleep_lock.moc"
