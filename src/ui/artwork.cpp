#include "artwork.h"

#include "protocol/unit_terms.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <array>
#include <cmath>
#include <numbers>

namespace valve::ui {

namespace {
constexpr int kPorts = protocol::kPositionCount;

QPointF onCircle(const QPointF& centre, qreal radius, int port) {
    // Port 1 at the top, counting clockwise.
    const qreal angle = port * 2.0 * std::numbers::pi / kPorts - std::numbers::pi / 2.0;
    return centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
}

void paintInletPipe(QPainter& painter, const QPointF& centre, qreal radius) {
    const qreal pipe = radius * 0.28;
    QLinearGradient steel(0, centre.y() - pipe, 0, centre.y() + pipe);
    steel.setColorAt(0.0, QColor(0x9a, 0xa4, 0xae));
    steel.setColorAt(0.5, QColor(0xe8, 0xec, 0xf0));
    steel.setColorAt(1.0, QColor(0x6c, 0x76, 0x80));
    painter.setPen(QPen(QColor(0x3a, 0x42, 0x4a), radius * 0.03));
    painter.setBrush(steel);
    painter.drawRect(QRectF(centre.x() - radius * 1.32, centre.y() - pipe / 2, radius * 0.5, pipe));
}
} // namespace

void paintValve(QPainter& painter, const QRectF& area) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = std::min(area.width() / 2.7, area.height() / 2.2);
    const QPointF centre = area.center() + QPointF(radius * 0.18, 0);
    const qreal line = std::max<qreal>(1.0, radius * 0.035);

    paintInletPipe(painter, centre, radius);

    // Body.
    QRadialGradient body(centre - QPointF(radius * 0.35, radius * 0.35), radius * 1.4);
    body.setColorAt(0.0, QColor(0xd6, 0xe6, 0xf4));
    body.setColorAt(0.6, QColor(0x5f, 0x86, 0xb0));
    body.setColorAt(1.0, QColor(0x27, 0x43, 0x64));
    painter.setPen(QPen(QColor(0x1c, 0x2b, 0x3c), line));
    painter.setBrush(body);
    painter.drawEllipse(centre, radius, radius);

    // Ports around the rim; the selected one (port 1) is lit.
    const qreal portRadius = radius * 0.11;
    for (int port = 0; port < kPorts; ++port) {
        const QPointF at = onCircle(centre, radius * 0.78, port);
        painter.setPen(QPen(QColor(0x1c, 0x2b, 0x3c), line * 0.8));
        painter.setBrush(port == 0 ? QColor(0xf2, 0xb1, 0x34) : QColor(0xee, 0xf2, 0xf6));
        painter.drawEllipse(at, portRadius, portRadius);
    }

    // Rotor with its pointer towards the selected port.
    painter.setBrush(QColor(0x32, 0x3a, 0x44));
    painter.setPen(QPen(QColor(0x12, 0x16, 0x1c), line));
    painter.drawEllipse(centre, radius * 0.42, radius * 0.42);
    QPainterPath pointer;
    pointer.moveTo(onCircle(centre, radius * 0.62, 0));
    pointer.lineTo(centre + QPointF(-radius * 0.14, 0));
    pointer.lineTo(centre + QPointF(radius * 0.14, 0));
    pointer.closeSubpath();
    painter.setBrush(QColor(0xf2, 0xb1, 0x34));
    painter.setPen(QPen(QColor(0x7a, 0x52, 0x08), line * 0.7));
    painter.drawPath(pointer);
    painter.setBrush(QColor(0xc8, 0xd0, 0xd8));
    painter.drawEllipse(centre, radius * 0.12, radius * 0.12);

    // Port numbers only where there is room for them.
    if (radius >= 50) {
        QFont font = painter.font();
        font.setPixelSize(static_cast<int>(radius * 0.13));
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(QColor(0x1c, 0x2b, 0x3c));
        for (int port = 0; port < kPorts; ++port) {
            const QPointF at = onCircle(centre, radius * 0.78, port);
            painter.drawText(QRectF(at.x() - portRadius, at.y() - portRadius, 2 * portRadius, 2 * portRadius),
                             Qt::AlignCenter, QString::number(port + 1));
        }
    }
    painter.restore();
}

QIcon valveIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintValve(painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

ValvePicture::ValvePicture(QWidget* parent) : QWidget(parent) {
    setAccessibleName(tr("Picture of the valve"));
}

void ValvePicture::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    paintValve(painter, QRectF(rect()).adjusted(2, 2, -2, -2));
}

} // namespace valve::ui
