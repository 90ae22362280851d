#include "artwork.h"
#include "control_factory.h"
#include "main_window_controls.h"
#include "main_window_parts.h"
#include "twips.h"

#include <QFont>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

namespace valve::ui {

namespace {
constexpr int kPositionColumns = 3;

void buildPositionButtons(QGroupBox* frame, MainWindowControls& c) {
    for (int index = 0; index < static_cast<int>(c.pos.size()); ++index) {
        const int column = index % kPositionColumns;
        const int row = index / kPositionColumns;
        c.pos[index] = makeButton(frame, QStringLiteral("pos_%1").arg(index),
                                  QString::number(protocol::kFirstPosition + index),
                                  twipRect(180 + column * 930, 360 + row * 570, 780, 450));
    }
}
} // namespace

void buildPositionTab(QWidget* parent, MainWindowControls& c) {
    auto* picture = new ValvePicture(parent);
    picture->setObjectName(QStringLiteral("Picture1"));
    picture->setGeometry(twipRect(240, 240, 166 * kTwipsPerPixel, 149 * kTwipsPerPixel));
    c.Picture1 = picture;

    c.Frame6 = makeFrame(parent, QStringLiteral("Frame6"), QStringLiteral("Change Position"),
                         twipRect(2970, 90, 3000, 2700));
    buildPositionButtons(c.Frame6, c);

    c.Frame5 = makeFrame(parent, QStringLiteral("Frame5"), QStringLiteral("Current Position"),
                         twipRect(6150, 90, 2070, 1140));
    c.position = makeTextBox(c.Frame5, QStringLiteral("position"), QObject::tr("Current position"),
                             twipRect(180, 390, 1710, 540), Editing::ReadOnly);
    c.position->setAlignment(Qt::AlignCenter);
    QFont large = c.position->font();
    large.setPointSizeF(13.5);
    c.position->setFont(large);

    c.Frame4 = makeFrame(parent, QStringLiteral("Frame4"), QStringLiteral("Valve Homing"),
                         twipRect(6150, 1380, 2070, 1410));
    c.homing = makeButton(c.Frame4, QStringLiteral("homing"), QStringLiteral("Home the Valve"),
                          twipRect(180, 450, 1710, 600));
}

} // namespace valve::ui
