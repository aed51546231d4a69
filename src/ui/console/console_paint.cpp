#include "ui/console/console_paint.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace ondaline::ui {

namespace {

int component(double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

// Blurs the alpha channel of a premultiplied image in place (two passes of a
// separable Gaussian); colour is put back by the caller's tint.
void blurAlpha(QImage& image, double sigma)
{
    if (!(sigma > 0)) return;
    const int radius = static_cast<int>(std::ceil(sigma * 3));
    std::vector<double> kernel(static_cast<std::size_t>(2 * radius + 1));
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[std::size_t(i + radius)] = std::exp(-(i * i) / (2 * sigma * sigma));
    for (auto& k : kernel) k /= sum;

    const int w = image.width(), h = image.height();
    std::vector<double> alpha(std::size_t(w) * h), pass(std::size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) alpha[std::size_t(y) * w + x] = qAlpha(line[x]);
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double v = 0;
            for (int i = -radius; i <= radius; ++i) {
                const int xi = x + i;
                if (xi >= 0 && xi < w) v += kernel[std::size_t(i + radius)] * alpha[std::size_t(y) * w + xi];
            }
            pass[std::size_t(y) * w + x] = v;
        }
    }
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            double v = 0;
            for (int i = -radius; i <= radius; ++i) {
                const int yi = y + i;
                if (yi >= 0 && yi < h) v += kernel[std::size_t(i + radius)] * pass[std::size_t(yi) * w + x];
            }
            const int a = static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0)));
            line[x] = qRgba(0, 0, 0, a);
        }
    }
}

}  // namespace

QColor white(double level, double alpha)
{
    return QColor(component(level), component(level), component(level), component(alpha));
}

QColor rgba(double red, double green, double blue, double alpha)
{
    return QColor(component(red), component(green), component(blue), component(alpha));
}

QFont systemFont(double pixelSize, QFont::Weight weight)
{
    QFont font(QStringLiteral("Inter"));
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

void fillWithAngledGradient(QPainter& painter, const QPainterPath& shape, const QGradientStops& stops,
                            double angleDegrees)
{
    const QRectF box = shape.boundingRect();
    const double theta = angleDegrees * std::numbers::pi / 180.0;
    const QPointF d(std::cos(theta), std::sin(theta));
    const double length = std::fabs(box.width() * d.x()) + std::fabs(box.height() * d.y());
    QLinearGradient gradient(box.center() - d * (length / 2), box.center() + d * (length / 2));
    gradient.setStops(stops);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawPath(shape);
    painter.restore();
}

void drawWithShadow(QPainter& painter, QPointF offset, double blur, const QColor& color, const QRectF& area,
                    const std::function<void(QPainter&)>& draw)
{
    const double sigma = std::max(0.0, blur) / 2;
    const int margin = static_cast<int>(std::ceil(sigma * 3)) + 2;
    // In the painter's device pixels (for a widget: the widget's own, which
    // resetTransform() returns to), with room for the blur to spread.
    const QTransform toDevice = painter.combinedTransform();
    const QRect region = toDevice.mapRect(area).toAlignedRect().adjusted(-margin, -margin, margin, margin);
    if (region.isEmpty()) {
        draw(painter);
        return;
    }
    QImage mask(region.size(), QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
        QPainter maskPainter(&mask);
        maskPainter.setRenderHints(painter.renderHints());
        maskPainter.setTransform(toDevice * QTransform::fromTranslate(-region.left(), -region.top()));
        draw(maskPainter);
    }
    blurAlpha(mask, sigma);
    {
        QPainter tint(&mask);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(mask.rect(), QColor(color.red(), color.green(), color.blue()));
    }
    painter.save();
    painter.resetTransform();
    painter.setOpacity(painter.opacity() * color.alphaF());
    painter.drawImage(QPointF(region.left() + offset.x(), region.top() - offset.y()), mask);
    painter.restore();
    draw(painter);
}

QEasingCurve easeInEaseOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

}  // namespace ondaline::ui
