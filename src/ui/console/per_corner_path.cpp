#include "ui/console/per_corner_path.h"

#include <cmath>

namespace ondaline::ui {

namespace {

// The control-point distance of a quarter circle drawn as one cubic, as a
// fraction of the radius.
constexpr double kappa = 0.5522847498307936;

double usable(double radius) { return std::isfinite(radius) ? radius : 0.0; }

// A line that may end where it starts. QPainterPath drops a line onto the
// current point, but the outline keeps one for each square corner, so the
// line is drawn next to the point and then put on it.
void lineOnto(QPainterPath& path, QPointF point)
{
    if (path.currentPosition() != point) {
        path.lineTo(point);
        return;
    }
    path.lineTo(point + QPointF(1, 0));
    path.setElementPositionAt(path.elementCount() - 1, point.x(), point.y());
}

// From the current point (the corner's first tangent point) round `corner`
// to `end`, the second tangent point; a square corner is a line onto it.
void addCorner(QPainterPath& path, QPointF corner, QPointF end, double radius)
{
    if (!(radius > 0)) {
        lineOnto(path, corner);
        return;
    }
    const QPointF start = path.currentPosition();
    path.cubicTo(start + (corner - start) * kappa, end + (corner - end) * kappa, end);
}

}  // namespace

QPainterPath makePerCornerPath(const QRectF& rect, double tl, double tr, double br, double bl)
{
    tl = usable(tl);
    tr = usable(tr);
    br = usable(br);
    bl = usable(bl);
    const double minX = rect.left(), minY = rect.top(), maxX = rect.right(), maxY = rect.bottom();
    QPainterPath path;
    path.moveTo(minX + tl, minY);
    lineOnto(path, {maxX - tr, minY});
    addCorner(path, {maxX, minY}, {maxX, minY + tr}, tr);
    lineOnto(path, {maxX, maxY - br});
    addCorner(path, {maxX, maxY}, {maxX - br, maxY}, br);
    lineOnto(path, {minX + bl, maxY});
    addCorner(path, {minX, maxY}, {minX, maxY - bl}, bl);
    lineOnto(path, {minX, minY + tl});
    addCorner(path, {minX, minY}, {minX + tl, minY}, tl);
    path.closeSubpath();
    return path;
}

}  // namespace ondaline::ui
