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
        std::optional<QString> panel;
        Way way;
        QByteArray description; // or the start of the refusal
        int exitCode;
    } cases[] = {
        {"one free", {a, heldB}, {}, {}, std::nullopt, Way::Direct, "Unit A", 0},
        {"two free", {a, b}, {}, {}, std::nullopt, Way::Refused, "2 adapters are attached; choose one", 2},
        {"free and the panel's", {a, heldB}, {}, {}, QString("Unit B"), Way::Refused, "2 adapters", 2},
        {"only the panel's", {heldB}, {}, {}, QString("Unit B"), Way::Panel, "Unit B", 0},
        {"by serial", {a, b}, {}, "S2", std::nullopt, Way::Direct, "Unit B", 0},
        {"open in another program",
         {a, heldB},
         "Unit B",
         {},
         QString("Unit C"),
         Way::Refused,
         "Unit B is open in another program",
         1},
        {"held by the panel", {a, heldB}, {}, "S2", QString("Unit B"), Way::Panel, "Unit B", 0},
        {"twins by serial", {a, twinA}, {}, "S3", std::nullopt, Way::Refused, "2 free adapters share", 2},
        {"none attached", {}, "Unit A", {}, std::nullopt, Way::Refused, "no adapter with the description", 1},
        {"none free", {heldB}, {}, {}, QString("Sim"), Way::Refused, "Error - Could not find any Nerra", 1},
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
