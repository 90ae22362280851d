#pragma once

#include <QIcon>
#include <QRectF>
#include <QWidget>

class QPainter;

namespace valve::ui {

// The program's own drawings, painted as vectors so that they stay sharp at
// any display scaling.

// A rotary valve seen from the front: body, twelve ports, rotor and pointer.
void paintValve(QPainter& painter, const QRectF& area);

// The window icon, rendered at the usual icon sizes.
QIcon valveIcon();

// The picture of the "Position Control" tab (166 x 149 pixels).
class ValvePicture : public QWidget {
    Q_OBJECT
public:
    explicit ValvePicture(QWidget* parent = nullptr);
    [[nodiscard]] QSize sizeHint() const override { return {166, 149}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace valve::ui
