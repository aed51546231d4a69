#include "ui/console/console_bezel_view.h"

#include "ui/console/console_paint.h"
#include "ui/console/console_palette.h"
#include "ui/console/per_corner_path.h"
#include "ui/console/unextended_gradient.h"

#include <QPainter>

namespace ondaline::ui {

ConsoleBezelView::ConsoleBezelView(QWidget* parent) : ConsoleView(parent) { cacheDrawing(); }

void ConsoleBezelView::setRightCornersFlat(bool flat)
{
    rightCornersFlat_ = flat;
    redraw();
}

void ConsoleBezelView::draw(QPainter& painter)
{
    const QRectF box = bounds();
    const double w = box.width(), h = box.height();
    const double r = rightCornersFlat_ ? 0 : 22;

    fillWithAngledGradient(painter, makePerCornerPath(box, 22, r, r, 22), bezelGradientStops(), -55);

    const double s = rightCornersFlat_ ? 0 : 20;
    fillUnextendedLinearGradient(painter, makePerCornerPath({0.12 * w, 1, 0.76 * w, 0.38 * h}, 20, s, s, 20),
                                 {box.center().x(), 0}, {box.center().x(), 0.4 * h},
                                 {{0, white(1, 0.07)}, {0.5, white(1, 0.02)}, {1, white(1, 0)}});

    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(outlinePen(white(1, 0.08), 0.5));
    painter.drawPath(makePerCornerPath(box.adjusted(0.5, 0.5, -0.5, -0.5), 22, r, r, 22));

    const double g = rightCornersFlat_ ? 0 : 13;
    painter.setPen(outlinePen(white(0, 0.25), 1));
    painter.drawPath(makePerCornerPath(box.adjusted(11, 11, -11, -11), 13, g, g, 13));
    painter.restore();
}

}  // namespace ondaline::ui
