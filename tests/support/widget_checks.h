#pragma once

#include <QFontMetrics>
#include <QPushButton>
#include <QStringList>

namespace valve::testing {

// Buttons under `root` whose caption is wider than the button can show.
inline QStringList clippedCaptions(const QWidget& root) {
    constexpr int kFrameAndPadding = 8;
    QStringList clipped;
    for (const QPushButton* button : root.findChildren<QPushButton*>()) {
        const int needed = QFontMetrics(button->font()).horizontalAdvance(button->text()) + kFrameAndPadding;
        if (needed > button->width()) {
            clipped << button->objectName();
        }
    }
    return clipped;
}

} // namespace valve::testing
