#include "app/MenuBarIcon.hpp"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace qb::app::MenuBarIcon {

namespace {

// Points measured from the lower left, as the mark's geometry is given, into Qt's top-left
// coordinates.
QPointF fromLowerLeft(const QRectF& r, double x, double y) {
    return {r.left() + x, r.bottom() - y};
}

void drawFallback(QPainter& painter, const QRectF& g, const QColor& colour) {
    QPainterPath zigzag;
    zigzag.moveTo(g.left(), g.bottom());
    zigzag.lineTo(g.left(), g.top());
    zigzag.lineTo(g.center().x(), g.bottom() - 0.32 * g.height());
    zigzag.lineTo(g.right(), g.top());
    zigzag.lineTo(g.right(), g.bottom());
    painter.setPen(QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(zigzag);
}

// The mark's alpha, filled with the colour, at the painter's resolution.
void drawMark(QPainter& painter, const QRectF& target, const QImage& mark, const QColor& colour) {
    const qreal ratio = painter.device()->devicePixelRatioF();
    const QSize pixels(static_cast<int>(std::ceil(target.width() * ratio)),
                       static_cast<int>(std::ceil(target.height() * ratio)));
    QImage tinted(pixels, QImage::Format_ARGB32_Premultiplied);
    tinted.fill(Qt::transparent);
    {
        QPainter p(&tinted);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(QPointF(0, 0), QSizeF(pixels)), mark);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(tinted.rect(), colour);
    }
    tinted.setDevicePixelRatio(ratio);
    painter.drawImage(target, tinted);
}

} // namespace

const QImage& lockedGlyph() {
    static const QImage mark(":/MenuBarQ.png");
    return mark;
}

QRectF markRect(const QRectF& r, Badge badge) {
    if (badge == Badge::none) return r.adjusted(2.6, 2.6, -2.6, -2.6);
    // Lower left at (2.6, 5.4) from the lower left corner, 2.6 and 6.2 short of the others.
    return QRectF(fromLowerLeft(r, 2.6, 5.4 + (r.height() - 2.6 - 5.4)),
                  QSizeF(r.width() - 2.6 - 6.2, r.height() - 2.6 - 5.4));
}

void draw(QPainter& painter, const QRectF& r, Badge badge, bool dimmed, const QColor& colour,
          const QImage& mark) {
    if (dimmed) badge = Badge::none;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(dimmed ? dimmedAlpha : 1.0);
    const QRectF target = markRect(r, badge);
    if (mark.isNull())
        drawFallback(painter, target, colour);
    else
        drawMark(painter, target, mark, colour);

    constexpr double diameter = 4.6;
    constexpr double inset = 0.4;
    const QRectF circle(fromLowerLeft(r, r.width() - diameter - inset, inset + diameter),
                        QSizeF(diameter, diameter));
    switch (badge) {
    case Badge::dot:
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(circle);
        break;
    case Badge::ring:
        painter.setPen(QPen(colour, 1.3));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle);
        break;
    case Badge::triangle: {
        const double x = r.width() - 5.6 - inset;
        QPainterPath triangle;
        triangle.moveTo(fromLowerLeft(r, x, inset));
        triangle.lineTo(fromLowerLeft(r, x + 5.6, inset));
        triangle.lineTo(fromLowerLeft(r, x + 2.8, inset + 5.6));
        triangle.closeSubpath();
        painter.fillPath(triangle, colour);
        break;
    }
    case Badge::none:
        break;
    }
    painter.restore();
}

QImage image(Badge badge, bool dimmed, const QColor& colour, qreal devicePixelRatio,
             const QImage& mark) {
    const int pixels = static_cast<int>(std::lround(size * devicePixelRatio));
    QImage result(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    result.setDevicePixelRatio(devicePixelRatio);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    draw(painter, QRectF(0, 0, size, size), badge, dimmed, colour, mark);
    return result;
}

QIcon icon(Badge badge, bool dimmed, const QColor& colour) {
    QIcon result;
    for (qreal ratio : {1.0, 2.0})
        result.addPixmap(QPixmap::fromImage(image(badge, dimmed, colour, ratio)));
    return result;
}

} // namespace qb::app::MenuBarIcon
