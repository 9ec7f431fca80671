#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>

class QPainter;

// The status item's image: the mark, a small badge in the lower right corner for the capture
// state, everything at alpha 0.45 and without badge while capture is paused. Linux panels do
// not tint template images, so it is drawn in the colour it is given: the panel's text colour.
namespace qb::app::MenuBarIcon {

enum class Badge { none, dot, ring, triangle };

inline constexpr double size = 18; // points
inline constexpr double dimmedAlpha = 0.45;

// The mark from the resource ":/MenuBarQ.png", loaded on first use; null when it is missing.
const QImage& lockedGlyph();

// Where the mark goes in rect: inset 2.6 on every side, or away from the badge's corner.
QRectF markRect(const QRectF& rect, Badge badge);
// Draws into rect, in points; a null mark draws the zigzag glyph instead.
void draw(QPainter& painter, const QRectF& rect, Badge badge, bool dimmed, const QColor& colour,
          const QImage& mark);
// The 18-point image at a device pixel ratio.
QImage image(Badge badge, bool dimmed, const QColor& colour, qreal devicePixelRatio = 1,
             const QImage& mark = lockedGlyph());
// The image at 1x and 2x, for the tray.
QIcon icon(Badge badge, bool dimmed, const QColor& colour);

} // namespace qb::app::MenuBarIcon
