#include "ui/console/drawer_bezel_view.h"

#include "ui/console/console_paint.h"
#include "ui/console/console_palette.h"
#include "ui/console/per_corner_path.h"
#include "ui/console/unextended_gradient.h"

#include <QPainter>

namespace ondaline::ui {

DrawerBezelView::DrawerBezelView(QWidget* parent) : ConsoleView(parent) { cacheDrawing(); }

void DrawerBezelView::draw(QPainter& painter)
{
    const QRectF box = bounds();
    const double w = box.width(), h = box.height();

    fillWithAngledGradient(painter, makePerCornerPath(box, 0, 22, 22, 0), bezelGradientStops(), -55);

    fillUnextendedLinearGradient(painter, makePerCornerPath({0.05 * w, 1, 0.9 * w, 0.38 * h}, 0, 20, 20, 0),
                                 {box.center().x(), 0}, {box.center().x(), 0.4 * h},
                                 {{0, white(1, 0.06)}, {0.5, white(1, 0.02)}, {1, white(1, 0)}});

    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(outlinePen(white(1, 0.08), 0.5));
    painter.drawPath(makePerCornerPath(box.adjusted(0.5, 0.5, -0.5, -0.5), 0, 22, 22, 0));
    // The groove's left side lies on the drawer's left edge, half of it
    // outside the view, so it continues the console's groove line.
    painter.setPen(outlinePen(white(0, 0.25), 1));
    painter.drawPath(makePerCornerPath({0, 11, w - 11, h - 22}, 0, 13, 13, 0));
    painter.restore();
}

}  // namespace ondaline::ui
