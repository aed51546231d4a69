#pragma once

#include <QPainterPath>
#include <QRectF>

namespace ondaline::ui {

// A rectangle whose four corners have radii of their own: tl at (minX, minY),
// tr at (maxX, minY), br at (maxX, maxY), bl at (minX, maxY), which are the
// corners of those names on screen in a flipped (y-down) view. The path
// starts at (minX + tl, minY) and runs clockwise on screen: each edge is a
// line, each corner a cubic when its radius is above 0 and otherwise a line
// onto the corner point (so a square corner carries a zero-length segment).
// Radii are used as given, negative ones included; a radius that is not
// finite counts as 0 for its corner and its edges.
QPainterPath makePerCornerPath(const QRectF& rect, double tl, double tr, double br, double bl);

}  // namespace ondaline::ui
