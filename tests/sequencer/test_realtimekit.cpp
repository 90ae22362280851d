#include "private_realtimekit.h"
#include "sequencer/realtimekit_priority.h"
#include "sequencer_rig.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace valve;
using valve::testing::runUntil;

namespace {

int niceOfThisThread() {
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
}

// Against the real daemon where it runs here, granting and refusing as its
// policy says; elsewhere against a bus without it. The test says which.
TEST(RealtimeKitPriority, RaisesTheLogicThreadForTheRunOrTellsOnceThatItCannot) {
    const QString kCannot = QStringLiteral(
        "The run cannot raise its priority; other programs may delay its moves by a few milliseconds");
    for (const bool policyAllows : {true, false}) {
        SCOPED_TRACE(policyAllows ? "policy allows" : "policy refuses");
        valve::testing::PrivateRealtimeKit kit(policyAllows);
        if (!kit.busUp()) {
            GTEST_SKIP() << "no private message bus: " << kit.whyNot().toStdString();
        }
        const std::string tested =
            kit.serving() ? "a real rtkit-daemon" : "the refusal path only, " + kit.whyNot().toStdString();
        std::printf("RealtimeKit tested: %s\n", tested.c_str());
        RecordProperty("realtimekit", tested);

        sequencer::RealtimeKitPriority raiser(
            QDBusConnection::connectToBus(kit.address(), "panel " + kit.address()));
        valve::testing::SequencerRig rig(sim::UnitTiming::instant(), nullptr, &raiser);
        const int niceBefore = niceOfThisThread();
        rig.clock.held = true;
        rig.startRun({{"0", "2"}, {"0.3", "3"}});
        ASSERT_TRUE(rig.reaches(1));
        const bool granted = kit.serving() && policyAllows;
        ASSERT_TRUE(runUntil([&] {
            return granted ? niceOfThisThread() == sequencer::RealtimeKitPriority::kNiceLevel
                           : rig.log.lines().contains(kCannot);
        }));
        rig.clock.release();
        ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));

        EXPECT_EQ(rig.end, sequencer::RunEnd::Finished);
        EXPECT_EQ(rig.moves(), QList<QByteArray>({"P02\r", "P03\r"}));
        EXPECT_EQ(rig.log.lines().count(kCannot), granted ? 0 : 1);
        // Back to normal (a grant whose answer is still on its way is given back when it comes).
        EXPECT_TRUE(runUntil([&] { return niceOfThisThread() == niceBefore; }));
        if (!kit.serving()) {
            break; // without the daemon, the policy plays no part
        }
    }
}

} // namespace
