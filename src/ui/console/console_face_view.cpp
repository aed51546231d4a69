#include "ui/console/console_face_view.h"

#include "ui/console/console_paint.h"
#include "ui/console/console_palette.h"
#include "ui/console/unextended_gradient.h"

#include <QPainter>
#include <QPolygonF>

namespace ondaline::ui {

ConsoleFaceView::ConsoleFaceView(QWidget* parent) : ConsoleView(parent) { cacheDrawing(); }

void ConsoleFaceView::draw(QPainter& painter)
{
    const QRectF box = bounds();
    const double w = box.width(), h = box.height();

    QPainterPath outline;
    outline.addRoundedRect(box, 12, 12);
    drawFacePanel(painter, outline);

    // The gloss goes on after the edge, so it lightens the edge line too.
    QPainterPath sweep;
    sweep.addPolygon(QPolygonF({{-0.05 * w, 0}, {0.45 * w, 0}, {0.15 * w, 0.85 * h}, {-0.05 * w, 0.65 * h}}));
    sweep.closeSubpath();
    fillUnextendedLinearGradient(painter, outline.intersected(sweep), {0, 0}, {0.45 * w, 0.55 * h},
                                 {{0, white(1, 0.18)}, {0.3, white(1, 0.10)}, {0.7, white(1, 0.03)}, {1, white(1, 0)}});
}

}  // namespace ondaline::ui
