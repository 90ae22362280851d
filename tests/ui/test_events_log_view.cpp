#include "link/event_log.h"
#include "ui/events_log_view.h"

#include <QItemSelectionModel>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace valve::ui {
namespace {

TEST(EventsLogView, NewLineIsSelectedAndInViewEvenAfterTheOperatorPickedAnother) {
    link::EventLog log;
    EventsLogView view;
    view.resize(545, 56);
    view.follow(log);
    view.show();
    for (int i = 0; i < 50; ++i) {
        log.show_msg(QStringLiteral("line %1").arg(i));
    }
    view.selectRow(3);
    view.verticalScrollBar()->setValue(0);
    ASSERT_EQ(view.currentRow(), 3);

    log.show_msg(QStringLiteral("newest"));

    ASSERT_EQ(view.count(), 51);
    EXPECT_EQ(view.currentRow(), 50);
    const auto selected = view.selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.front().data().toString(), QStringLiteral("newest"));
    const QRect shown = view.visualRect(view.model()->index(50, 0));
    EXPECT_TRUE(view.viewport()->rect().contains(shown)) << "the newest line is scrolled into view";
    EXPECT_TRUE(view.font().bold());
    EXPECT_DOUBLE_EQ(view.font().pointSizeF(), 8.25);
}

TEST(EventsLogView, FollowsWhatTheLogHeldBeforeItsBoundAndItsClearing) {
    link::EventLog log;
    log.show_msg(QStringLiteral("held before"));
    EventsLogView view;
    view.follow(log);
    ASSERT_EQ(view.count(), 1);
    EXPECT_EQ(view.currentRow(), 0);

    const int total = link::EventLog::kMaxLines + 5;
    for (int i = 1; i < total; ++i) {
        log.show_msg(QStringLiteral("line %1").arg(i));
    }
    ASSERT_EQ(view.count(), link::EventLog::kMaxLines);
    EXPECT_EQ(view.line(0), QStringLiteral("line 5"));
    EXPECT_EQ(view.line(view.count() - 1), QStringLiteral("line %1").arg(total - 1));
    EXPECT_EQ(view.currentRow(), view.count() - 1);

    log.clear();
    EXPECT_EQ(view.count(), 0);
    log.show_msg(QStringLiteral("after clearing"));
    ASSERT_EQ(view.count(), 1);
    EXPECT_EQ(view.currentRow(), 0);
}

} // namespace
} // namespace valve::ui
