#include "sequencer/priority_raiser.h"
#include "sequencer_rig.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace valve;
using sequencer::RunEnd;
using valve::testing::runUntil;
using valve::testing::SequencerRig;

namespace {

const QString kCannotRaise = QStringLiteral(
    "The run cannot raise its priority; other programs may delay its moves by a few milliseconds");

// Grants or refuses a raise a moment after it is asked for, as the service answers.
class RaiserDouble : public sequencer::PriorityRaiser {
public:
    struct Hold : sequencer::PriorityHold {
        explicit Hold(int& held) : held_(held) { ++held_; }
        ~Hold() override { --held_; }
        int& held_;
        std::shared_ptr<int> alive = std::make_shared<int>(0);
    };

    std::unique_ptr<sequencer::PriorityHold> raise(std::function<void()> cannotRaise) override {
        ++asked;
        auto hold = std::make_unique<Hold>(held);
        if (refuse) {
            QTimer::singleShot(0, [alive = std::weak_ptr<int>(hold->alive), cannotRaise] {
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

TEST(RunPriority, IsRaisedWhileTheStepsGoOnAndGivenBackAtEveryEnd) {
    using Rows = std::vector<std::pair<QString, QString>>;
    struct Case {
        const char* name;
        bool refuse;
        Rows rows;
        // What happens while the run waits for row 1 (the clock holds it there).
        std::function<void(SequencerRig&)> meanwhile;
        RunEnd end;
        QList<QByteArray> moves;
    };
    const auto nothing = [](SequencerRig&) {};
    const auto stop = [](SequencerRig& rig) { rig.sequencer.btnStop_Click(); };
    const auto close = [](SequencerRig& rig) { rig.sequencer.shut_down(); };
    const auto spoilRow2 = [](SequencerRig& rig) { rig.table.setRow(2, "0.3", "four"); };
    const Rows threeRows{{"0", "2"}, {"0.2", "3"}, {"0.3", "4"}};
    const std::vector<Case> cases{
        {"to the end", false, threeRows, nothing, RunEnd::Finished, {"P02\r", "P03\r", "P04\r"}},
        {"to the end, refused", true, threeRows, nothing, RunEnd::Finished, {"P02\r", "P03\r", "P04\r"}},
        {"Stop", false, threeRows, stop, RunEnd::Stopped, {"P02\r"}},
        {"closing", false, threeRows, close, RunEnd::EndedQuietly, {"P02\r"}},
        {"unusable row", false, threeRows, spoilRow2, RunEnd::Refused, {"P02\r", "P03\r"}},
        {"failed move", true, {{"0", "2"}, {"0.2", "13"}}, nothing, RunEnd::MoveFailed, {"P02\r", "P0D\r"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RaiserDouble raiser;
        raiser.refuse = c.refuse;
        SequencerRig rig(sim::UnitTiming::instant(), nullptr, &raiser);
        rig.clock.held = true;
        rig.startRun(c.rows);
        ASSERT_TRUE(rig.reaches(1));
        EXPECT_EQ(raiser.held, 1);
        if (c.refuse) {
            ASSERT_TRUE(runUntil([&] { return rig.log.lines().contains(kCannotRaise); }));
        }
        c.meanwhile(rig);
        if (rig.clock.held) {
            rig.clock.release();
        }
        ASSERT_TRUE(runUntil([&] { return rig.end.has_value(); }));
        EXPECT_EQ(rig.end, c.end);
        EXPECT_EQ(rig.moves(), c.moves);
        EXPECT_EQ(raiser.asked, 1);
        EXPECT_EQ(raiser.held, 0); // given back
        // A refusal is told once, and the run goes on.
        EXPECT_EQ(rig.log.lines().count(kCannotRaise), c.refuse ? 1 : 0);
    }
}

TEST(RunPriority, IsNotAskedForWhenTheTableIsRefused) {
    RaiserDouble raiser;
    SequencerRig rig(sim::UnitTiming::instant(), nullptr, &raiser);
    EXPECT_EQ(rig.run({{"10", "2"}, {"5", "3"}}), RunEnd::Refused);
    EXPECT_EQ(raiser.asked, 0);
}

} // namespace
