#include "coro_test.h"
#include "ui/message_box_service.h"

#include <QMessageBox>
#include <QPushButton>
#include <functional>
#include <gtest/gtest.h>

namespace valve::ui {
namespace {

using link::BoxAnswer;
using link::BoxButtons;
using valve::testing::into;
using valve::testing::runUntil;

TEST(MessageBoxService, BoxLooksAndAnswersByHowItWasClosed) {
    const struct {
        const char* how;
        BoxButtons buttons;
        std::function<void(QMessageBox*)> close;
        BoxAnswer answer;
    } cases[] = {
        {"OK of a plain box", BoxButtons::Ok, [](QMessageBox* b) { b->button(QMessageBox::Ok)->click(); },
         BoxAnswer::Ok},
        {"by the window", BoxButtons::Ok, [](QMessageBox* b) { b->close(); }, BoxAnswer::Cancel},
        {"OK of a confirmation", BoxButtons::OkCancel,
         [](QMessageBox* b) { b->button(QMessageBox::Ok)->click(); }, BoxAnswer::Ok},
        {"Cancel of a confirmation", BoxButtons::OkCancel,
         [](QMessageBox* b) { b->button(QMessageBox::Cancel)->click(); }, BoxAnswer::Cancel},
    };
    MessageBoxService service;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        std::optional<BoxAnswer> answer;
        auto run = into(service.message_box(QStringLiteral("Invalid Command Mode"), c.buttons,
                                            QStringLiteral("Data Error")),
                        answer);
        ASSERT_EQ(service.openBoxes().size(), 1U);
        QMessageBox* box = service.openBoxes().front();
        EXPECT_EQ(box->text(), QStringLiteral("Invalid Command Mode"));
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Data Error"));
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->standardButtons(), c.buttons == BoxButtons::Ok
                                              ? QMessageBox::StandardButtons(QMessageBox::Ok)
                                              : QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
        EXPECT_FALSE(answer.has_value()) << "the caller waits for the operator";

        c.close(box);
        ASSERT_TRUE(runUntil([&] { return answer.has_value(); }));
        EXPECT_EQ(*answer, c.answer);
        EXPECT_TRUE(service.openBoxes().empty());
    }
}

TEST(MessageBoxService, ShuttingDownClosesOpenBoxesAndRefusesNewOnes) {
    MessageBoxService service;
    std::optional<BoxAnswer> answer;
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
