#include "sequencer/logind_sleep_inhibitor.h"
#include "sequencer_rig.h"

#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

using namespace valve;
using valve::testing::runUntil;

namespace {

// The login manager's Inhibit: it hands out the write end of a pipe, and the
// lock lasts until every copy of that end is closed.
class LogindStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~LogindStandIn() override { ::close(lockEnd); }
    [[nodiscard]] bool held() const {
        pollfd end{lockEnd, POLLIN, 0};
        return lockEnd >= 0 && ::poll(&end, 1, 0) == 0;
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
        const QDBusUnixFileDescriptor handed(ends[1]);
        ::close(ends[1]);
        return handed;
    }
};

TEST(RunSleepLock, IsHeldWhileTheRunLastsAndAFailureIsOneLineWhileTheRunGoesOn) {
    const QString kCannot = QStringLiteral("The run cannot keep the computer from going to sleep");
    enum class Logind { Grants, Refuses, Absent };
    for (const Logind logind : {Logind::Grants, Logind::Refuses, Logind::Absent}) {
        const QString tag = QString::number(static_cast<int>(logind));
        SCOPED_TRACE(tag.toStdString());
        QProcess bus; // a private one, ended with the case
        bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(bus.waitForReadyRead(5000)) << "dbus-daemon did not start";
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        QDBusConnection server = QDBusConnection::connectToBus(address, "stand-in" + tag);
        LogindStandIn standIn;
        standIn.refuse = logind == Logind::Refuses;
        const bool listens = logind != Logind::Absent;
        if (listens) {
            ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.login1")));
            ASSERT_TRUE(server.registerObject(QStringLiteral("/org/freedesktop/login1"), &standIn,
                                              QDBusConnection::ExportAllSlots));
        }
        sequencer::LogindSleepInhibitor inhibitor(QDBusConnection::connectToBus(address, "panel" + tag));
        valve::testing::SequencerRig rig(sim::UnitTiming::instant(), &inhibitor);
        rig.clock.held = true;
        rig.startRun({{"0", "2"}, {"0.3", "3"}});
        ASSERT_TRUE(rig.reaches(1));
        const bool granted = logind == Logind::Grants;
        ASSERT_TRUE(
            runUntil([&] { return granted ? standIn.lockEnd >= 0 : rig.log.lines().contains(kCannot); }));
        EXPECT_EQ(standIn.held(), granted);
        rig.clock.release();
        ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));

        EXPECT_EQ(rig.moves(), QList<QByteArray>({"P02\r", "P03\r"}));
        EXPECT_EQ(rig.log.lines().count(kCannot), granted ? 0 : 1);
        EXPECT_EQ(standIn.asked, listens ? QStringList{"sleep/block"} : QStringList{});
        EXPECT_TRUE(runUntil([&] { return !standIn.held(); })); // released
    }
}

} // namespace

#include "test_sleep_lock.moc"
