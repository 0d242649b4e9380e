#include "QuibHost/Interface/SymbolDrawing.hpp"

#include <QPainterPath>

#include <array>
#include <utility>

namespace quib {
namespace {

using Draw = void (*)(QPainter&, const QColor&);

QPen stroke(const QColor& ink, double width = 2.5, Qt::PenStyle style = Qt::SolidLine) {
    return QPen(ink, width, style, Qt::RoundCap, Qt::RoundJoin);
}

void outline(QPainter& painter, const QColor& ink, double width = 2.5, Qt::PenStyle style = Qt::SolidLine) {
    painter.setPen(stroke(ink, width, style));
    painter.setBrush(Qt::NoBrush);
}

void filled(QPainter& painter, const QColor& ink) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
}

// A mark cut out of a filled shape: drawn in the transparent colour.
void cutOut(QPainter& painter, double width) {
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(QPen(Qt::transparent, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
}

void warning(QPainter& p, const QColor& ink) {
    filled(p, ink);
    p.drawPolygon(QPolygonF({QPointF(16, 3), QPointF(30, 28), QPointF(2, 28)}));
    cutOut(p, 3);
    p.drawLine(QPointF(16, 11), QPointF(16, 19));
    p.drawPoint(QPointF(16, 24));
}

void screens(QPainter& p, const QColor& ink) {
    outline(p, ink);
    p.drawRoundedRect(QRectF(9, 4, 19, 15), 2, 2);
    p.drawRoundedRect(QRectF(4, 12, 19, 15), 2, 2);
}

void circlingArrows(QPainter& p, const QColor& ink) {
    outline(p, ink);
    p.drawArc(QRectF(6, 6, 20, 20), 30 * 16, 150 * 16);
    p.drawArc(QRectF(6, 6, 20, 20), 210 * 16, 150 * 16);
    filled(p, ink);
    p.drawPolygon(QPolygonF({QPointF(27, 7), QPointF(27, 16), QPointF(19, 12)}));
    p.drawPolygon(QPolygonF({QPointF(5, 25), QPointF(5, 16), QPointF(13, 20)}));
}

void checkmark(QPainter& p, const QColor& ink) {
    filled(p, ink);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    cutOut(p, 3);
    p.drawPolyline(QPolygonF({QPointF(10, 16.5), QPointF(14.5, 21), QPointF(22, 11)}));
}

void moon(QPainter& p, const QColor& ink) {
    QPainterPath crescent;
    crescent.addEllipse(QRectF(3, 8, 21, 21));
    QPainterPath bite;
    bite.addEllipse(QRectF(10, 3, 19, 19));
    filled(p, ink);
    p.drawPath(crescent.subtracted(bite));
    outline(p, ink, 2);
    p.drawPolyline(QPolygonF({QPointF(20, 4), QPointF(27, 4), QPointF(20, 11), QPointF(27, 11)}));
}

void bell(QPainter& p, const QColor& ink) {
    QPainterPath body;
    body.moveTo(6, 24);
    body.cubicTo(9, 20, 8, 14, 9, 11);
    body.cubicTo(10, 6, 22, 6, 23, 11);
    body.cubicTo(24, 14, 23, 20, 26, 24);
    body.closeSubpath();
    filled(p, ink);
    p.drawPath(body);
    p.drawEllipse(QRectF(13, 24, 6, 5));
    p.drawEllipse(QRectF(22, 2, 8, 8));
}

void phone(QPainter& p, const QColor& ink) {
    outline(p, ink);
    p.drawRoundedRect(QRectF(9, 3, 14, 26), 3, 3);
    p.drawLine(QPointF(14, 25), QPointF(18, 25));
}

void slashedPhone(QPainter& p, const QColor& ink) {
    phone(p, ink);
    p.drawLine(QPointF(4, 4), QPointF(28, 28));
}

void headphones(QPainter& p, const QColor& ink) {
    outline(p, ink);
    p.drawArc(QRectF(5, 5, 22, 22), 0, 180 * 16);
    filled(p, ink);
    p.drawRoundedRect(QRectF(4, 16, 6, 11), 2, 2);
    p.drawRoundedRect(QRectF(22, 16, 6, 11), 2, 2);
}

void plus(QPainter& p, const QColor& ink) {
    outline(p, ink, 3);
    p.drawLine(QPointF(7, 16), QPointF(25, 16));
    p.drawLine(QPointF(16, 7), QPointF(16, 25));
}

void minus(QPainter& p, const QColor& ink) {
    outline(p, ink, 3);
    p.drawLine(QPointF(7, 16), QPointF(25, 16));
}

void dashedSquare(QPainter& p, const QColor& ink) {
    p.setPen(QPen(ink, 2.5, Qt::DashLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(5, 5, 22, 22));
}

void dashedApp(QPainter& p, const QColor& ink) {
    p.setPen(QPen(ink, 2.5, Qt::DashLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(5, 5, 22, 22), 6, 6);
}

void app(QPainter& p, const QColor& ink) {
    outline(p, ink);
    p.drawRoundedRect(QRectF(5, 5, 22, 22), 6, 6);
}

void window(QPainter& p, const QColor& ink) {
    outline(p, ink);
    p.drawRoundedRect(QRectF(3, 6, 26, 20), 3, 3);
    p.drawLine(QPointF(3, 12), QPointF(29, 12));
}

void pointerRays(QPainter& p, const QColor& ink) {
    filled(p, ink);
    p.drawPolygon(QPolygonF({QPointF(12, 10), QPointF(27, 19), QPointF(20, 20), QPointF(24, 28), QPointF(21, 29),
                             QPointF(17, 22), QPointF(12, 27)}));
    outline(p, ink, 2);
    p.drawLine(QPointF(8, 3), QPointF(9, 7));
    p.drawLine(QPointF(3, 8), QPointF(7, 9));
    p.drawLine(QPointF(14, 4), QPointF(12, 7));
    p.drawLine(QPointF(4, 14), QPointF(7, 12));
}

void sparkle(QPainter& p, const QColor& ink) {
    QPainterPath star;
    star.moveTo(16, 2);
    star.quadTo(17, 15, 30, 16);
    star.quadTo(17, 17, 16, 30);
    star.quadTo(15, 17, 2, 16);
    star.quadTo(15, 15, 16, 2);
    filled(p, ink);
    p.drawPath(star);
}

void terminal(QPainter& p, const QColor& ink) {
    outline(p, ink);
    p.drawRoundedRect(QRectF(3, 5, 26, 22), 3, 3);
    p.drawPolyline(QPolygonF({QPointF(8, 11), QPointF(13, 15), QPointF(8, 19)}));
    p.drawLine(QPointF(15, 21), QPointF(23, 21));
}

void code(QPainter& p, const QColor& ink) {
    outline(p, ink);
    p.drawPolyline(QPolygonF({QPointF(10, 9), QPointF(3, 16), QPointF(10, 23)}));
    p.drawPolyline(QPolygonF({QPointF(22, 9), QPointF(29, 16), QPointF(22, 23)}));
    p.drawLine(QPointF(18, 7), QPointF(14, 25));
}

void bubbles(QPainter& p, const QColor& ink) {
    outline(p, ink);
    p.drawRoundedRect(QRectF(3, 4, 17, 12), 4, 4);
    p.drawRoundedRect(QRectF(12, 15, 17, 12), 4, 4);
    p.drawLine(QPointF(7, 16), QPointF(6, 20));
    p.drawLine(QPointF(7, 9), QPointF(16, 9));
    p.drawLine(QPointF(16, 21), QPointF(25, 21));
}

void hammer(QPainter& p, const QColor& ink) {
    filled(p, ink);
    p.drawRoundedRect(QRectF(8, 4, 18, 8), 2, 2);
    outline(p, ink, 4);
    p.drawLine(QPointF(15, 12), QPointF(9, 28));
}

void globe(QPainter& p, const QColor& ink) {
    outline(p, ink, 2);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    p.drawEllipse(QRectF(10, 3, 12, 26));
    p.drawLine(QPointF(3, 16), QPointF(29, 16));
    p.drawLine(QPointF(16, 3), QPointF(16, 29));
}

void brain(QPainter& p, const QColor& ink) {
    outline(p, ink, 2);
    p.drawEllipse(QRectF(3, 6, 14, 20));
    p.drawEllipse(QRectF(15, 6, 14, 20));
    p.drawArc(QRectF(6, 10, 8, 6), 0, 180 * 16);
    p.drawArc(QRectF(18, 16, 8, 6), 180 * 16, 180 * 16);
}

// The neutral picture of a name no desktop draws: a plain rounded square with a dot.
void neutral(QPainter& p, const QColor& ink) {
    outline(p, ink, 2);
    p.drawRoundedRect(QRectF(6, 6, 20, 20), 5, 5);
    filled(p, ink);
    p.drawEllipse(QRectF(13.5, 13.5, 5, 5));
}

const std::array<std::pair<std::string_view, Draw>, 24> drawings{{
    {"exclamationmark.triangle.fill", warning},
    {"rectangle.on.rectangle", screens},
    {"arrow.triangle.2.circlepath", circlingArrows},
    {"checkmark.circle.fill", checkmark},
    {"moon.zzz", moon},
    {"bell.badge", bell},
    {"iphone", phone},
    {"iphone.slash", slashedPhone},
    {"headphones", headphones},
    {"plus", plus},
    {"minus", minus},
    {"square.dashed", dashedSquare},
    {"app.dashed", dashedApp},
    {"app", app},
    {"macwindow", window},
    {"cursorarrow.rays", pointerRays},
    {"sparkle", sparkle},
    {"terminal", terminal},
    {"chevron.left.forwardslash.chevron.right", code},
    {"bubble.left.and.text.bubble.right", bubbles},
    {"hammer", hammer},
    {"globe", globe},
    {"brain", brain},
    {"rectangle.dashed", dashedSquare},
}};

Draw drawingOf(std::string_view symbol) {
    for (const auto& [name, draw] : drawings) {
        if (name == symbol) return draw;
    }
    return nullptr;
}

}  // namespace

bool SymbolDrawing::knows(std::string_view symbol) { return drawingOf(symbol) != nullptr; }

void SymbolDrawing::draw(std::string_view symbol, QPainter& painter, QColor ink) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const Draw draw = drawingOf(symbol);
    (draw ? draw : neutral)(painter, ink);
    painter.restore();
}

}  // namespace quib
