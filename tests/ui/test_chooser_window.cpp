#include "coro_test.h"
#include "fakes.h"
#include "ui/chooser_window.h"

#include <QComboBox>
#include <QPushButton>
#include <gtest/gtest.h>

namespace valve::ui {
namespace {

using valve::testing::runUntil;
using valve::ui::testing::into;

TEST(ChooserWindow, LayoutAndTabOrder) {
    ChooserWindow chooser;
    EXPECT_EQ(chooser.objectName(), QStringLiteral("FormChoosePort"));
    EXPECT_EQ(chooser.windowTitle(), QStringLiteral("Choose USB Serial Port"));
    EXPECT_EQ(chooser.size(), QSize(213, 110));
    EXPECT_EQ(chooser.comboPort()->objectName(), QStringLiteral("ComboPort"));
    EXPECT_EQ(chooser.comboPort()->pos(), QPoint(8, 40));
    EXPECT_EQ(chooser.comboPort()->width(), 193);
    EXPECT_FALSE(chooser.comboPort()->isEditable());
    EXPECT_EQ(chooser.commandOk()->objectName(), QStringLiteral("CommandOk"));
    EXPECT_EQ(chooser.commandOk()->text(), QStringLiteral("OK"));
    EXPECT_EQ(chooser.commandOk()->geometry(), QRect(64, 72, 81, 33));
    EXPECT_EQ(chooser.comboPort()->nextInFocusChain(), chooser.commandOk());
    EXPECT_FALSE(chooser.comboPort()->accessibleName().isEmpty());
}

TEST(ChooserWindow, ClosingByTheWindowTakesTheFirstEntryWhenNothingWasTouched) {
    ChooserWindow chooser;
    std::optional<QByteArray> chosen;
    auto run = into(chooser.choose({"Adapter A", "Adapter B"}), chosen);

    ASSERT_TRUE(chooser.isVisible());
    EXPECT_EQ(chooser.windowModality(), Qt::ApplicationModal);
    ASSERT_EQ(chooser.comboPort()->count(), 2);
    EXPECT_EQ(chooser.comboPort()->itemText(0), QStringLiteral("Adapter A"));
    EXPECT_EQ(chooser.comboPort()->itemText(1), QStringLiteral("Adapter B"));
    EXPECT_EQ(chooser.comboPort()->currentIndex(), 0);
    EXPECT_FALSE(chosen.has_value()) << "the caller waits until the window closes";

    chooser.close();
    ASSERT_TRUE(runUntil([&] { return chosen.has_value(); }));
    EXPECT_EQ(*chosen, QByteArray("Adapter A"));
    EXPECT_FALSE(chooser.isVisible());
}

TEST(ChooserWindow, OkTakesTheSelectedEntryAndEachShowRefillsTheList) {
    ChooserWindow chooser;
    std::optional<QByteArray> chosen;
    auto first = into(chooser.choose({"Adapter A", "Adapter B"}), chosen);
    chooser.comboPort()->setCurrentIndex(1);
    chooser.commandOk()->click();
    ASSERT_TRUE(runUntil([&] { return chosen.has_value(); }));
    EXPECT_EQ(*chosen, QByteArray("Adapter B"));

    // Shown again with other adapters: nothing of the first list is left,
    // and the first entry is selected again.
    chosen.reset();
    auto second = into(chooser.choose({"Adapter C", "Adapter D", "Adapter E"}), chosen);
    ASSERT_EQ(chooser.comboPort()->count(), 3);
    EXPECT_EQ(chooser.comboPort()->itemText(0), QStringLiteral("Adapter C"));
    EXPECT_EQ(chooser.comboPort()->currentIndex(), 0);
    chooser.comboPort()->setCurrentIndex(2);
    chooser.close();
    ASSERT_TRUE(runUntil([&] { return chosen.has_value(); }));
    EXPECT_EQ(*chosen, QByteArray("Adapter E"));
}

} // namespace
} // namespace valve::ui
