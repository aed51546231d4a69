#include "ui/console/unextended_gradient.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>

#include <cmath>

namespace ondaline::ui {

void fillUnextendedLinearGradient(QPainter& painter, const QPainterPath& shape, QPointF start, QPointF end,
                                  const QGradientStops& stops)
{
    const QPointF along = end - start;
    const double length = std::hypot(along.x(), along.y());
    if (!(length > 0) || shape.isEmpty()) return;

    // The band between the lines through both ends, across the gradient,
    // reaching past the shape on either side.
    const QRectF box = shape.boundingRect();
    const double reach = std::hypot(box.width(), box.height()) +
                         std::hypot(box.center().x() - start.x(), box.center().y() - start.y());
    const QPointF across = QPointF(-along.y(), along.x()) * (reach / length);
    QPainterPath band;
    band.addPolygon(QPolygonF({start + across, end + across, end - across, start - across}));
    band.closeSubpath();

    QLinearGradient gradient(start, end);
    gradient.setStops(stops);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawPath(shape.intersected(band));
    painter.restore();
}

}  // namespace ondaline::ui
