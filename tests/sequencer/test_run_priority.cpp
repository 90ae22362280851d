#include "private_realtimekit.h"
#include "sequencer/realtimekit_priority.h"
#include "sequencer_rig.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace valve;
using sequencer::RunEnd;
using valve::testing::runUntil;
using valve::testing::SequencerRig;
using Rows = std::vector<std::pair<QString, QString>>;

namespace {

const QString kCannotRaise = QStringLiteral(
    "The run cannot raise its priority; other programs may delay its moves by a few milliseconds");

// Counts the holds alive; a refusal comes a moment after the request, as the service's would.
struct RaiserDouble : sequencer::PriorityRaiser {
    struct Hold : sequencer::PriorityHold {
        explicit Hold(int& count) : held(++count) {}
        ~Hold() override { --held; }
        int& held;
        std::shared_ptr<int> alive = std::make_shared<int>();
    };
    std::unique_ptr<sequencer::PriorityHold> raise(std::function<void()> cannotRaise) override {
        ++asked;
        auto hold = std::make_unique<Hold>(held);
        if (refuse) {
            QTimer::singleShot(0, [alive = std::weak_ptr(hold->alive), cannotRaise] {
                if (!alive.expired()) {
                    cannotRaise();
                }
            });
        }
        return hold;
    }
    bool refuse = false;
    int asked = 0;
    int held = 0;
};

TEST(RunPriority, IsRaisedWhileTheStepsGoOnAndGivenBackAtEveryEndARefusalToldOnce) {
    const auto nothing = [](SequencerRig&) {};
    const Rows rows{{"0", "2"}, {"0.2", "3"}, {"0.3", "4"}};
    const struct {
        bool refuse;
        Rows rows;
        std::function<void(SequencerRig&)> whileRow1Waits;
        RunEnd end;
        int moves;
    } cases[] = {
        {false, rows, nothing, RunEnd::Finished, 3},
        {true, rows, nothing, RunEnd::Finished, 3},
        {false, rows, [](SequencerRig& rig) { rig.sequencer.btnStop_Click(); }, RunEnd::Stopped, 1},
        {false, rows, [](SequencerRig& rig) { rig.sequencer.shut_down(); }, RunEnd::EndedQuietly, 1},
        {false, rows, [](SequencerRig& rig) { rig.table.setRow(2, "0.3", "four"); }, RunEnd::Refused, 2},
        {true, {{"0", "2"}, {"0.2", "13"}}, nothing, RunEnd::MoveFailed, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.end));
        RaiserDouble raiser;
        raiser.refuse = c.refuse;
        SequencerRig rig(sim::UnitTiming::instant(), nullptr, &raiser);
        rig.clock.held = true;
        rig.startRun(c.rows);
        ASSERT_TRUE(rig.reaches(1));
        EXPECT_EQ(raiser.held, 1);
        ASSERT_TRUE(runUntil([&] { return !c.refuse || rig.log.lines().contains(kCannotRaise); }));
        c.whileRow1Waits(rig);
        if (rig.clock.held) {
            rig.clock.release();
        }
        ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));
        EXPECT_EQ(std::tuple(*rig.end, rig.moves().size(), raiser.asked, raiser.held),
                  std::tuple(c.end, c.moves, 1, 0)); // given back
        EXPECT_EQ(rig.log.lines().count(kCannotRaise), c.refuse ? 1 : 0);
    }
    RaiserDouble raiser; // a table refused before its run asks for nothing
    EXPECT_EQ(SequencerRig(sim::UnitTiming::instant(), nullptr, &raiser).run({{"10", "2"}, {"5", "3"}}),
              RunEnd::Refused);
    EXPECT_EQ(raiser.asked, 0);
}

int niceOfThisThread() {
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
}

// Against the real daemon where it runs here, granting and refusing as its
// policy says; elsewhere against a bus without it. The output says which.
TEST(RunPriority, RealtimeKitRaisesTheLogicThreadForTheRunOrItIsToldOnceThatItCannot) {
    for (const bool policyAllows : {true, false}) {
        valve::testing::PrivateRealtimeKit kit(policyAllows);
        if (!kit.busUp()) {
            GTEST_SKIP() << "no private message bus: " << kit.whyNot().toStdString();
        }
        const std::string tested =
            kit.serving() ? "a real rtkit-daemon" : "the refusal path only: " + kit.whyNot().toStdString();
        std::printf("RealtimeKit tested: %s\n", tested.c_str());
        sequencer::RealtimeKitPriority raiser(QDBusConnection::connectToBus(kit.address(), kit.address()));
        SequencerRig rig(sim::UnitTiming::instant(), nullptr, &raiser);
        const int niceBefore = niceOfThisThread();
        rig.clock.held = true;
        rig.startRun({{"0", "2"}, {"0.3", "3"}});
        ASSERT_TRUE(rig.reaches(1));
        const bool granted = kit.serving() && policyAllows;
        ASSERT_TRUE(runUntil([&] {
            return granted ? niceOfThisThread() == sequencer::RealtimeKitPriority::kNiceLevel
                           : rig.log.lines().contains(kCannotRaise);
        }));
        rig.clock.release();
        ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));
        EXPECT_EQ(std::tuple(*rig.end, rig.moves().size()), std::tuple(RunEnd::Finished, 2));
        EXPECT_EQ(rig.log.lines().count(kCannotRaise), granted ? 0 : 1);
        // Back to normal; a grant whose answer was still on its way is given back when it comes.
        EXPECT_TRUE(runUntil([&] { return niceOfThisThread() == niceBefore; }));
        if (!kit.serving()) {
            break; // without the daemon the policy plays no part
        }
    }
}

} // namespace
