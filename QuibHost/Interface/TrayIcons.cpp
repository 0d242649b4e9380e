#include "QuibHost/Interface/TrayIcons.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace quib {
namespace {

// The arrow on a grid of 32 units: its tip up and left, its tail down and right.
void drawArrow(QPainter& painter) {
    const QPolygonF arrow({{9, 6}, {9, 27}, {14, 22}, {17.5, 29.5}, {21, 28}, {17.5, 20.5}, {24, 20.5}});
    painter.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::black);
    painter.drawPolygon(arrow);
}

// Three short strokes fanning out from the tip: the click.
void drawClick(QPainter& painter) {
    painter.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(6, 3), QPointF(4, 1));
    painter.drawLine(QPointF(4, 7), QPointF(1, 7));
    painter.drawLine(QPointF(12, 3), QPointF(13, 0.5));
}

// A clock face in the lower right corner.
void drawClock(QPainter& painter) {
    const QPointF centre(24.5, 24.5);
    painter.setPen(QPen(Qt::black, 1.6));
    painter.setBrush(Qt::white);
    painter.drawEllipse(centre, 7, 7);
    painter.setPen(QPen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre, centre + QPointF(0, -4.5));
    painter.drawLine(centre, centre + QPointF(3.5, 0));
}

}  // namespace

QPixmap TrayIcons::pointer(int size, bool withClock) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    drawArrow(painter);
    drawClick(painter);
    if (withClock) drawClock(painter);
    return pixmap;
}

QIcon TrayIcons::icon(bool withClock) {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(pointer(size, withClock));
    return icon;
}

}  // namespace quib
