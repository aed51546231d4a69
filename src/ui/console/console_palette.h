#pragma once

// The console's two fills, shared by the console's and the drawer's views
// (grey metal for the bezels, blue-grey for the face panels), and the pen of
// their edge lines.

#include <QColor>
#include <QGradientStops>
#include <QPainterPath>
#include <QPen>

class QPainter;

namespace ondaline::ui {

// Nine grey stops: light at the start, darkest at 55 %, lighter again at the end.
QGradientStops bezelGradientStops();

// Four blue-grey stops, from the lighter start to the darker end.
QGradientStops faceGradientStops();

// The pen of the console's edge lines: butt caps and mitred joins, so the
// square corners of an outline come out sharp.
QPen outlinePen(const QColor& color, double width);

// A face panel in `outline`: the face gradient at −90° and a thin dark edge.
void drawFacePanel(QPainter& painter, const QPainterPath& outline);

}  // namespace ondaline::ui
