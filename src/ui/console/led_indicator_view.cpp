#include "ui/console/led_indicator_view.h"

#include "ui/console/console_paint.h"

#include <QPainter>
#include <QRadialGradient>

#include <algorithm>

namespace ondaline::ui {

namespace {

// The glow (σ = 5) spreads about 15 px past the lens, whose rim lies 2 px
// inside the bounds.
constexpr double glowMargin = 16;

// A radial gradient from a point 1 left of and 1 below the centre (y-up) out
// to the rim, painted only inside the rim: past its end circle the lens
// gradient paints nothing.
void fillLens(QPainter& painter, QPointF centre, double radius, const QGradientStops& stops)
{
    QRadialGradient gradient(centre, radius, centre - QPointF(1, 1));
    gradient.setStops(stops);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawEllipse(centre, radius, radius);
}

}  // namespace

LEDIndicatorView::LEDIndicatorView(QWidget* parent)
    : ConsoleView(parent, QMarginsF(glowMargin, glowMargin, glowMargin, glowMargin))
{
    // The lamp takes no events, and its glow margin must not hide its
    // neighbours from the pointer.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LEDIndicatorView::setLit(bool lit)
{
    isLit_ = lit;
    update();
}

void LEDIndicatorView::draw(QPainter& painter)
{
    const QRectF b = bounds();
    painter.save();
    painter.translate(0, b.height());
    painter.scale(1, -1);

    const QRectF rim = b.adjusted(2, 2, -2, -2);
    const QPointF c = rim.center();
    const double r = std::min(rim.width(), rim.height()) / 2;
    painter.setPen(Qt::NoPen);

    if (isLit_) {
        const QColor green = rgba(0.27, 0.87, 0.27);
        drawWithShadow(painter, {0, 0}, 10, rgba(0.27, 0.87, 0.27, 0.5), rim, [&](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(green);
            p.drawEllipse(rim);
        });
        fillLens(painter, c, r,
                 {{0, rgba(0.56, 1.00, 0.56)},
                  {0.4, rgba(0.27, 0.87, 0.27)},
                  {0.7, rgba(0.13, 0.67, 0.13)},
                  {1, rgba(0.07, 0.53, 0.07)}});
    } else {
        fillLens(painter, c, r,
                 {{0, rgba(0.15, 0.28, 0.15)}, {0.5, rgba(0.10, 0.20, 0.10)}, {1, rgba(0.06, 0.14, 0.06)}});
    }

    painter.setBrush(white(1.0, isLit_ ? 0.35 : 0.12));
    painter.drawEllipse(QRectF(c.x() - 2, c.y() - r + 1, 4, 3));
    painter.restore();
}

}  // namespace ondaline::ui
