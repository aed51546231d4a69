// Draws the VU meter's face image, "Ondaline_Just_VU.png", which the build
// puts beside the executables. The meter stretches it over each meter, so
// it is laid out on the meter's own geometry: the needle's pivot, reach and
// ±45° swing, and the scale's ticks where the needle reads those levels.
//
//   ondaline-make-vu-face OUT.png

#include "ui/console/vu_meter_dynamics.h"

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

using namespace ondaline::ui;

constexpr int width = 728;  // 1.82 : 1
constexpr int height = 400;
const QPointF pivot(width* vuPivotFracX, height* vuPivotFracY);
constexpr double arcRadius = 0.55 * height;
constexpr double majorReach = 0.60 * height;
constexpr double minorReach = 0.565 * height;  // short of the majors' band
constexpr double labelRadius = 0.68 * height;

const QColor cream(235, 230, 214);
const QColor rim(64, 64, 64);
const QColor ink(38, 36, 32);
const QColor red(196, 40, 32);
constexpr double redFrom = 0.44;  // 0 on the scale

QPointF onArc(double frac, double radius)
{
    const double angle = vuNeedleAngle(frac);
    return {pivot.x() + std::sin(angle) * radius, pivot.y() - std::cos(angle) * radius};
}

double degreesFromEast(double frac) { return 90.0 - vuNeedleAngle(frac) * 180.0 / std::numbers::pi; }

void strokeArc(QPainter& painter, double fromFrac, double toFrac, double radius, const QPen& pen)
{
    const QRectF circle(pivot.x() - radius, pivot.y() - radius, 2 * radius, 2 * radius);
    QPainterPath path;
    path.arcMoveTo(circle, degreesFromEast(fromFrac));
    path.arcTo(circle, degreesFromEast(fromFrac), degreesFromEast(toFrac) - degreesFromEast(fromFrac));
    painter.strokePath(path, pen);
}

void drawFace(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QPainterPath outer;
    outer.addRoundedRect(QRectF(0, 0, width, height), 12, 12);
    painter.fillPath(outer, rim);
    QPainterPath inner;
    inner.addRoundedRect(QRectF(12, 12, width - 24, height - 24), 6, 6);
    painter.fillPath(inner, cream);

    // The arc, black up to 0, then a broader red band.
    strokeArc(painter, 0, redFrom, arcRadius, QPen(ink, 3, Qt::SolidLine, Qt::FlatCap));
    strokeArc(painter, redFrom, 1, arcRadius - 4, QPen(red, 11, Qt::SolidLine, Qt::FlatCap));

    // Minor marks at every whole dB that has no label.
    for (int db = -9; db < 10; ++db) {
        bool labelled = false;
        for (const auto& tick : vuScaleTicks) labelled = labelled || tick.db == static_cast<float>(db);
        if (labelled) continue;
        const double frac = dBToFraction(static_cast<float>(db));
        painter.setPen(QPen(frac >= redFrom ? red : ink, 2.5, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(onArc(frac, arcRadius), onArc(frac, minorReach));
    }

    QFont labelFont(QStringLiteral("Inter"));
    labelFont.setPixelSize(30);
    labelFont.setWeight(QFont::DemiBold);
    painter.setFont(labelFont);
    for (const auto& tick : vuScaleTicks) {
        const QColor colour = tick.frac >= redFrom ? red : ink;
        painter.setPen(QPen(colour, 4.5, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(onArc(tick.frac, arcRadius), onArc(tick.frac, majorReach));
        const QPointF at = onArc(tick.frac, labelRadius);
        const int db = static_cast<int>(tick.db);
        const QString text = db < 0 ? QStringLiteral("−%1").arg(-db) : QString::number(db);
        painter.drawText(QRectF(at.x() - 40, at.y() - 20, 80, 40), Qt::AlignCenter, text);
    }

    QFont vuFont(labelFont);
    vuFont.setPixelSize(52);
    vuFont.setWeight(QFont::Bold);
    painter.setFont(vuFont);
    painter.setPen(ink);
    painter.drawText(QRectF(0, pivot.y() - 0.33 * height, width, 70), Qt::AlignCenter, QStringLiteral("VU"));
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);  // fonts need it
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        drawFace(painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
