#include "ui/console/console_palette.h"

#include "ui/console/console_paint.h"

#include <QPainter>

namespace ondaline::ui {

QGradientStops bezelGradientStops()
{
    return {{0.00, white(0.36)},  {0.04, white(0.30)}, {0.10, white(0.24)}, {0.22, white(0.18)}, {0.45, white(0.14)},
            {0.55, white(0.135)}, {0.75, white(0.16)}, {0.90, white(0.22)}, {1.00, white(0.30)}};
}

QGradientStops faceGradientStops()
{
    return {{0.00, rgba(0.133, 0.133, 0.157)},
            {0.25, rgba(0.112, 0.112, 0.135)},
            {0.60, rgba(0.102, 0.102, 0.122)},
            {1.00, rgba(0.098, 0.098, 0.116)}};
}

QPen outlinePen(const QColor& color, double width)
{
    QPen pen(color, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    return pen;
}

void drawFacePanel(QPainter& painter, const QPainterPath& outline)
{
    fillWithAngledGradient(painter, outline, faceGradientStops(), -90);
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(outlinePen(white(0, 0.25), 0.5));
    painter.drawPath(outline);
    painter.restore();
}

}  // namespace ondaline::ui
