#pragma once

// Drawing helpers every console view shares: colours from components,
// the console's font, angled gradients clipped to a shape, and soft shadows.

#include <QColor>
#include <QEasingCurve>
#include <QFont>
#include <QGradient>
#include <QPainterPath>
#include <QPointF>

#include <functional>

class QPainter;

namespace ondaline::ui {

// A colour component v is the 8-bit value v·255; no colour management.
QColor white(double level, double alpha = 1.0);
QColor rgba(double red, double green, double blue, double alpha = 1.0);

// The console's "system font" (Inter) at a pixel size; semibold is DemiBold.
QFont systemFont(double pixelSize, QFont::Weight weight = QFont::Normal);

// A gradient of `stops` across `shape` at `angleDegrees` in the painter's
// current coordinates: location 0 where the direction (cos θ, sin θ) enters
// the shape's bounding box, 1 where it leaves; clipped to the shape. In a
// flipped (y-down) view, −90° puts location 0 on the bottom edge.
void fillWithAngledGradient(QPainter& painter, const QPainterPath& shape, const QGradientStops& stops,
                            double angleDegrees);

// A soft shadow under whatever `draw` paints: its alpha, Gaussian-blurred
// with σ = blur / 2, tinted with `color`, moved by `offset` in device space
// with +y up on screen whatever the view's flip; then `draw` itself on top.
// `area`, in the painter's coordinates, holds what `draw` paints (the blur
// spreads past it by itself); the shadow is worked out only there.
void drawWithShadow(QPainter& painter, QPointF offset, double blur, const QColor& color, const QRectF& area,
                    const std::function<void(QPainter&)>& draw);

// Ease-in-ease-out, (0.42, 0, 0.58, 1), for the console's animations.
QEasingCurve easeInEaseOut();

}  // namespace ondaline::ui
