#pragma once

#include <QGradientStops>
#include <QPainterPath>
#include <QPointF>

class QPainter;

namespace ondaline::ui {

// A linear gradient from `start` to `end` inside `shape` that paints only
// between its two ends: the parts of the shape before the start or past the
// end stay untouched instead of taking the end colours.
void fillUnextendedLinearGradient(QPainter& painter, const QPainterPath& shape, QPointF start, QPointF end,
                                  const QGradientStops& stops);

}  // namespace ondaline::ui
