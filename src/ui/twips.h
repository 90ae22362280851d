#pragma once

#include <QRect>

namespace valve::ui {

// The window designs are measured in twips (1/1440 inch); Qt places widgets in
// device-independent pixels, 15 twips each at 96 dpi.
constexpr int kTwipsPerPixel = 15;

constexpr int px(int twips) {
    return twips / kTwipsPerPixel;
}

constexpr QRect twipRect(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

} // namespace valve::ui
