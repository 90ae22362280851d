#include "coro_test.h"
#include "ui/chooser_window.h"

#include <QComboBox>
#include <QPushButton>
#include <gtest/gtest.h>

namespace valve::ui {
namespace {

using valve::testing::into;
using valve::testing::runUntil;

TEST(ChooserWindow, NamesPlacesAndTabOrder) {
    ChooserWindow chooser;
    EXPECT_EQ(chooser.objectName(), QStringLiteral("FormChoosePort"));
    EXPECT_EQ(chooser.windowTitle(), QStringLiteral("Choose USB Serial Port"));
    EXPECT_EQ(chooser.size(), QSize(213, 110));
    EXPECT_EQ(chooser.comboPort()->objectName(), QStringLiteral("ComboPort"));
    EXPECT_FALSE(chooser.comboPort()->isEditable());
    EXPECT_EQ(chooser.commandOk()->objectName(), QStringLiteral("CommandOk"));
    EXPECT_EQ(chooser.commandOk()->text(), QStringLiteral("OK"));
    EXPECT_EQ(chooser.commandOk()->geometry(), QRect(64, 72, 81, 33));
    EXPECT_EQ(chooser.comboPort()->nextInFocusChain(), chooser.commandOk());
}

TEST(ChooserWindow, ClosingTakesTheSelectionOkTooAndEachShowRefillsTheList) {
    ChooserWindow chooser;
    std::optional<QByteArray> chosen;
    auto first = into(chooser.choose({"Adapter A", "Adapter B"}), chosen);
    ASSERT_TRUE(chooser.isVisible());
    EXPECT_EQ(chooser.windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(chooser.comboPort()->currentIndex(), 0);
    EXPECT_FALSE(chosen.has_value()) << "the caller waits until the window closes";
    chooser.close(); // nothing touched: the first entry
    ASSERT_TRUE(runUntil([&] { return chosen.has_value(); }));
    EXPECT_EQ(*chosen, QByteArray("Adapter A"));

    chosen.reset();
    auto second = into(chooser.choose({"Adapter C", "Adapter D", "Adapter E"}), chosen);
    ASSERT_EQ(chooser.comboPort()->count(), 3);
    EXPECT_EQ(chooser.comboPort()->itemText(0), QStringLiteral("Adapter C"));
    EXPECT_EQ(chooser.comboPort()->currentIndex(), 0);
    chooser.comboPort()->setCurrentIndex(2);
    chooser.commandOk()->click();
    ASSERT_TRUE(runUntil([&] { return chosen.has_value(); }));
    EXPECT_EQ(*chosen, QByteArray("Adapter E"));
    EXPECT_FALSE(chooser.isVisible());
}

} // namespace
} // namespace valve::ui
