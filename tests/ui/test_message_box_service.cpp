#include "coro_test.h"
#include "fakes.h"
#include "ui/message_box_service.h"

#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

namespace valve::ui {
namespace {

using link::BoxAnswer;
using link::BoxButtons;
using valve::testing::runUntil;
using valve::ui::testing::into;

class MessageBoxServiceTest : public ::testing::Test {
protected:
    // The one box on screen (fails the test when there is not exactly one).
    QMessageBox* onlyBox() {
        const auto boxes = service.openBoxes();
        EXPECT_EQ(boxes.size(), 1U);
        return boxes.empty() ? nullptr : boxes.front();
    }
    MessageBoxService service;
    std::optional<BoxAnswer> answer;
};

TEST_F(MessageBoxServiceTest, PlainOkBoxAnswersOkWhenOkIsPressed) {
    auto run = into(service.message_box(QStringLiteral("Invalid Command Mode")), answer);
    QMessageBox* box = onlyBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Invalid Command Mode"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Orlix"));
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
    EXPECT_FALSE(answer.has_value()) << "the caller waits for the operator";

    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(runUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, BoxAnswer::Ok);
    EXPECT_TRUE(service.openBoxes().empty());
}

TEST_F(MessageBoxServiceTest, ClosingTheBoxByTheWindowCountsAsCancel) {
    auto run = into(service.message_box(QStringLiteral("text"), BoxButtons::Ok, QStringLiteral("Data Error")),
                    answer);
    QMessageBox* box = onlyBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Data Error"));
    box->close();
    ASSERT_TRUE(runUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, BoxAnswer::Cancel);
}

TEST_F(MessageBoxServiceTest, ConfirmationAnswersWithThePressedButton) {
    auto ok = into(service.message_box(QStringLiteral("Sure?"), BoxButtons::OkCancel), answer);
    QMessageBox* box = onlyBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(runUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, BoxAnswer::Ok);

    answer.reset();
    auto cancel = into(service.message_box(QStringLiteral("Sure?"), BoxButtons::OkCancel), answer);
    box = onlyBox();
    ASSERT_NE(box, nullptr);
    box->button(QMessageBox::Cancel)->click();
    ASSERT_TRUE(runUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, BoxAnswer::Cancel);
}

TEST_F(MessageBoxServiceTest, ShuttingDownClosesOpenBoxesAndRefusesNewOnes) {
    auto open = into(service.message_box(QStringLiteral("Sure?"), BoxButtons::OkCancel), answer);
    ASSERT_EQ(service.openBoxes().size(), 1U);

    service.setShuttingDown();
    ASSERT_TRUE(runUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, BoxAnswer::Cancel);

    std::optional<BoxAnswer> later;
    auto refused = into(service.message_box(QStringLiteral("too late")), later);
    ASSERT_TRUE(later.has_value()) << "answered at once";
    EXPECT_EQ(*later, BoxAnswer::Cancel);
    EXPECT_TRUE(service.openBoxes().empty());
}

} // namespace
} // namespace valve::ui
