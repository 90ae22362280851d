#include "control_factory.h"
#include "main_window_controls.h"
#include "main_window_parts.h"
#include "twips.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace valve::ui {

namespace {
// Three column groups of rows: 0-6, 7-13 and 14-19.
constexpr int kRowsPerGroup = 7;
constexpr int kGroups = 3;
constexpr int kGroupLeft = 120;
constexpr int kGroupPitch = 2745;
constexpr int kFirstRowTop = 420;
constexpr int kRowPitch = 315;
constexpr int kRowHeight = 300;
constexpr int kLabelWidth = 330;
constexpr int kTimeLeft = 390;
constexpr int kTimeWidth = 1080;
constexpr int kPosLeft = 1530;
constexpr int kPosWidth = 960;
constexpr int kSeparatorLeft = 2610;

int groupLeft(int group) {
    return kGroupLeft + group * kGroupPitch;
}
int rowTop(int rowInGroup) {
    return kFirstRowTop + rowInGroup * kRowPitch;
}

void buildHeadings(QWidget* parent) {
    for (int group = 0; group < kGroups; ++group) {
        const int left = groupLeft(group);
        makeLabel(parent, QStringLiteral("lblTimeHeading_%1").arg(group), QStringLiteral("Time (s)"),
                  twipRect(left + kTimeLeft, 90, kTimeWidth, 240), Qt::AlignCenter);
        makeLabel(parent, QStringLiteral("lblPositionHeading_%1").arg(group), QStringLiteral("Position"),
                  twipRect(left + kPosLeft, 90, kPosWidth, 240), Qt::AlignCenter);
    }
}

void buildRows(QWidget* parent, MainWindowControls& c) {
    for (int row = 0; row < static_cast<int>(c.txtTime.size()); ++row) {
        const int left = groupLeft(row / kRowsPerGroup);
        const int top = rowTop(row % kRowsPerGroup);
        const QString number = QString::number(row + 1);
        c.lblEventNo[row] =
            makeLabel(parent, QStringLiteral("lblEventNo_%1").arg(row), number,
                      twipRect(left, top, kLabelWidth, kRowHeight), Qt::AlignRight | Qt::AlignVCenter);
        c.txtTime[row] = makeTextBox(parent, QStringLiteral("txtTime_%1").arg(row),
                                     QObject::tr("Time of event %1, seconds").arg(number),
                                     twipRect(left + kTimeLeft, top, kTimeWidth, kRowHeight));
        c.txtPos[row] = makeTextBox(parent, QStringLiteral("txtPos_%1").arg(row),
                                    QObject::tr("Position of event %1").arg(number),
                                    twipRect(left + kPosLeft, top, kPosWidth, kRowHeight));
    }
}
} // namespace

void buildTimedEventsTab(QWidget* parent, MainWindowControls& c) {
    buildHeadings(parent);
    c.Line[0] =
        makeLine(parent, QStringLiteral("Line1"), twipRect(kGroupLeft, 360, 3 * kGroupPitch - 135, 45));
    c.Line[1] =
        makeLine(parent, QStringLiteral("Line2"), twipRect(groupLeft(0) + kSeparatorLeft, 60, 45, 2700));
    c.Line[2] =
        makeLine(parent, QStringLiteral("Line3"), twipRect(groupLeft(1) + kSeparatorLeft, 60, 45, 2700));
    buildRows(parent, c);

    // The last group has one row less; the buttons take its place.
    const int left = groupLeft(kGroups - 1);
    const int top = rowTop(kRowsPerGroup - 1) + 30;
    c.btnRun = makeButton(parent, QStringLiteral("btnRun"), QStringLiteral("Run"),
                          twipRect(left + kTimeLeft, top, kTimeWidth, 360));
    c.btnStop = makeButton(parent, QStringLiteral("btnStop"), QStringLiteral("Stop"),
                           twipRect(left + kPosLeft, top, kPosWidth, 360));
}

} // namespace valve::ui
