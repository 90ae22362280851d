#include "cli/adapter_choice.h"

#include <gtest/gtest.h>

using valve::cli::AdapterChoice;
using valve::cli::chooseAdapter;
using Way = AdapterChoice::Way;

namespace {

TEST(AdapterChoice, UsesTheOnlyCandidateAndNeverPicksOneSilently) {
    const valve::link::AdapterInfo a{"Unit A", "S1", false};
    const valve::link::AdapterInfo b{"Unit B", "S2", false};
    const valve::link::AdapterInfo heldB{"Unit B", "S2", true};
    const valve::link::AdapterInfo twinA{"Unit A", "S3", false};
    const struct {
        const char* what;
        QList<valve::link::AdapterInfo> adapters;
        QString device;
        QString serial;
        std::optional<QString> panel; // the adapter a running panel holds
        Way way;
        QByteArray description; // or the start of the refusal
        int exitCode = 0;
    } cases[] = {
        {"one free", {a, heldB}, {}, {}, {}, Way::Direct, "Unit A"},
        {"two free", {a, b}, {}, {}, {}, Way::Refused, "2 adapters are attached; choose one", 2},
        {"free and the panel's", {a, heldB}, {}, {}, "Unit B", Way::Refused, "2 adapters", 2},
        {"only the panel's", {heldB}, {}, {}, "Unit B", Way::Panel, "Unit B"},
        {"by serial", {a, b}, {}, "S2", {}, Way::Direct, "Unit B"},
        {"open elsewhere", {a, heldB}, "Unit B", {}, "Unit C", Way::Refused, "Unit B is open in another", 1},
        {"held by the panel", {a, heldB}, {}, "S2", "Unit B", Way::Panel, "Unit B"},
        {"twins by serial", {a, twinA}, {}, "S3", {}, Way::Refused, "2 free adapters share", 2},
        {"none attached", {}, "Unit A", {}, {}, Way::Refused, "no adapter with the description", 1},
        {"none free", {heldB}, {}, {}, "Sim", Way::Refused, "Error - Could not find any Nerra", 1},
    };
    for (const auto& c : cases) {
        const AdapterChoice choice = chooseAdapter(c.adapters, c.device, c.serial, c.panel);
        EXPECT_EQ(choice.way, c.way) << c.what;
        if (c.way == Way::Refused) {
            EXPECT_TRUE(choice.message.startsWith(QString::fromLatin1(c.description))) << c.what;
            EXPECT_EQ(choice.exitCode, c.exitCode) << c.what;
        } else {
            EXPECT_EQ(choice.description, c.description) << c.what;
        }
    }
}

} // namespace
