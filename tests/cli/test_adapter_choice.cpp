#include "cli/adapter_choice.h"

#include <gtest/gtest.h>

using namespace valve::cli;
using Way = AdapterChoice::Way;

namespace {

TEST(AdapterChoice, UsesTheOnlyCandidateAndNeverPicksOneSilently) {
    using valve::link::AdapterInfo;
    const AdapterInfo a{"Unit A", "S1", false};
    const AdapterInfo b{"Unit B", "S2", false};
    const AdapterInfo heldA{"Unit A", "S1", true};
    const AdapterInfo heldB{"Unit B", "S2", true};
    const AdapterInfo twinA{"Unit A", "S3", false};
    const struct {
        const char* what;
        QList<valve::link::AdapterInfo> adapters;
        QString device;
        QString serial;
        QStringList panels; // the adapters running panels hold
        Way way;
        QString description; // or the start of the refusal
        int exitCode = 0;
    } cases[] = {
        {"one free", {a, heldB}, {}, {}, {}, Way::Direct, "Unit A"},
        {"two free", {a, b}, {}, {}, {}, Way::Refused, "2 adapters are attached; choose one", 2},
        {"free and the panel's", {a, heldB}, {}, {}, {"Unit B"}, Way::Refused, "2 adapters", 2},
        {"only the panel's", {heldB}, {}, {}, {"Unit B"}, Way::Panel, "Unit B"},
        {"by serial", {a, b}, {}, "S2", {}, Way::Direct, "Unit B"},
        {"open elsewhere", {a, heldB}, "Unit B", {}, {"Unit C"}, Way::Refused, "Unit B is open in", 1},
        {"held by the panel", {a, heldB}, {}, "S2", {"Unit B"}, Way::Panel, "Unit B"},
        {"held by the second panel", {heldA, heldB}, {}, "S2", {"Unit A", "Unit B"}, Way::Panel, "Unit B"},
        {"two panels", {heldA, heldB}, {}, {}, {"Unit A", "Unit B"}, Way::Refused, "2 adapters", 2},
        {"twins by serial", {a, twinA}, {}, "S3", {}, Way::Refused, "2 free adapters share", 2},
        {"none attached", {}, "Unit A", {}, {}, Way::Refused, "no adapter with the description", 1},
        {"a panel's unit the driver does not show", {a}, "Sim", {}, {"Sim"}, Way::Panel, "Sim"},
        {"none free", {heldB}, {}, {}, {"Sim"}, Way::Refused, "Error - Could not find any Nerra", 1},
    };
    for (const auto& c : cases) {
        const AdapterChoice choice = chooseAdapter(c.adapters, c.device, c.serial, c.panels);
        const QString told = c.way == Way::Refused ? choice.message.left(c.description.size())
                                                   : QString::fromLatin1(choice.description);
        EXPECT_EQ(std::tuple(choice.way, told, choice.exitCode), std::tuple(c.way, c.description, c.exitCode))
            << c.what;
    }
}

TEST(AdapterChoice, WithPanelAPanelIsPickedByItsAdapterAndARefusalIsPassedOnInItsWords) {
    const SeenPanel a{"/run/a.socket", "Unit A", {}}, b{"/run/b.socket", "Unit B", {}},
        twinB{"/run/c.socket", "Unit B", {}}, full{"/run/d.socket", {}, "too many clients; try again"};
    const struct {
        std::vector<SeenPanel> panels;
        QString wanted;
        int index;
        QString message; // the start of the refusal
        int exitCode = 0;
    } cases[] = {
        // clang-format off
        {{a}, {}, 0, {}},
        {{a, b}, "Unit B", 1, {}},
        {{full, b}, "Unit B", 1, {}},
        {{a, b}, {}, -1, "2 panels are running; choose one with --device or --serial:\n"
                         "  Unit A (at /run/a.socket)", 2},
        {{a, full}, {}, -1, "2 panels are running", 2},
        {{full}, {}, -1, "too many clients; try again", 1},
        {{a, full}, "Unit B", -1, "too many clients; try again", 1},
        {{a}, "Unit B", -1, "no running panel holds \"Unit B\"; the running panels hold Unit A", 1},
        {{b, twinB}, "Unit B", -1, "2 running panels hold \"Unit B\"", 1},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wanted.toStdString() + " / " + std::to_string(c.panels.size()) + " panels");
        const PanelPick pick = pickPanel(c.panels, c.wanted);
        EXPECT_EQ(std::tuple(pick.index, pick.message.left(c.message.size()), pick.exitCode),
                  std::tuple(c.index, c.message, c.exitCode));
    }
}

} // namespace
