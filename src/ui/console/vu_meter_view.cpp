#include "ui/console/vu_meter_view.h"

#include "ui/console/console_paint.h"
#include "ui/console/vu_face_search.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <cmath>

namespace ondaline::ui {

namespace {

// Wide views draw their meters past the top and bottom edges; the widget
// keeps this much room above and below its frame so the faces are not cut.
// The margin is fixed when the view is made, before any frame is known, so
// it is generous: it covers meters up to 80 taller than the view.
constexpr double overhang = 40;

}  // namespace

VUMeterView::VUMeterView(QWidget* parent) : VUMeterView(vuFaceCandidates(currentFacePlaces()), parent) {}

VUMeterView::VUMeterView(const std::vector<std::string>& faceCandidates, QWidget* parent)
    : ConsoleView(parent, QMarginsF(0, overhang, 0, overhang)), face_(loadVUFace(faceCandidates))
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(33);  // 30 ticks a second
    connect(&timer_, &QTimer::timeout, this, &VUMeterView::tick);
}

void VUMeterView::startAnimating()
{
    animating_ = true;
    timer_.start();
}

void VUMeterView::stopAnimating()
{
    animating_ = false;
    timer_.stop();
}

void VUMeterView::setTargetLevelL(float level)
{
    targetLevelL_ = level;
    wakeFor(dBToFraction(level), needleL_);
}

void VUMeterView::setTargetLevelR(float level)
{
    targetLevelR_ = level;
    wakeFor(dBToFraction(level), needleR_);
}

void VUMeterView::wakeFor(double target, const VUNeedle& needle)
{
    if (animating_ && !timer_.isActive() && std::abs(target - needle.position) >= stillDistance()) timer_.start();
}

double VUMeterView::stillDistance() const
{
    // A tip that moves less than half a pixel looks the same. A steady
    // tone's levels jitter by a few hundredths of a dB from one delivery to
    // the next (each is measured over whatever a read brought), a fraction
    // of a pixel at the tip.
    const double tipTravel = (vuArcEndAngle - vuArcStartAngle) * vuMeterRects(bounds().size())[0].height() *
                             vuNeedleLength;
    return tipTravel > 1 ? 0.5 / tipTravel : 1e-3;
}

void VUMeterView::tick()
{
    // Both targets are read before either needle moves.
    const double left = dBToFraction(targetLevelL_);
    const double right = dBToFraction(targetLevelR_);
    stepNeedle(needleL_, left);
    stepNeedle(needleR_, right);
    const double still = stillDistance();
    const auto resting = [still](const VUNeedle& needle, double target) {
        return std::abs(needle.velocity) < still / 8 && std::abs(target - needle.position) < still / 2;
    };
    if (resting(needleL_, left) && resting(needleR_, right)) timer_.stop();  // a new target wakes it
    // A meter at rest looks the same from tick to tick: it is not drawn again.
    if (std::abs(needleL_.position - drawnL_) < still && std::abs(needleR_.position - drawnR_) < still &&
        timer_.isActive())
        return;
    drawnL_ = needleL_.position;
    drawnR_ = needleR_.position;
    update();
}

const QImage& VUMeterView::faceAt(QSize size)
{
    if (face_.isNull() || size.isEmpty()) return face_;
    if (scaledFace_.size() != size) {
        scaledFace_ = face_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return scaledFace_;
}

void VUMeterView::draw(QPainter& painter)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    QPainterPath background;
    background.addRoundedRect(bounds().adjusted(2, 0, -2, 0), 6, 6);
    painter.fillPath(background, white(0.07));

    const auto rects = vuMeterRects(bounds().size());
    const QImage& face = faceAt(rects[0].size().toSize());
    drawVUMeter(painter, rects[0], needleL_.position, face);
    drawVUMeter(painter, rects[1], needleR_.position, face);
    painter.restore();
}

std::array<QRectF, 2> vuMeterRects(QSizeF viewSize)
{
    const double meterW = (viewSize.width() - 8 - 16) / 2;
    const double meterH = meterW / 1.82;
    const double y = (viewSize.height() - meterH) / 2;
    return {QRectF(8, y, meterW, meterH), QRectF(8 + meterW + 8, y, meterW, meterH)};
}

void drawVUMeter(QPainter& painter, const QRectF& rect, double needleFrac, const QImage& face)
{
    painter.save();
    if (!face.isNull()) {
        painter.drawImage(rect, face);
    } else {
        QPainterPath rim;
        rim.addRoundedRect(rect, 4, 4);
        painter.fillPath(rim, white(0.25));
        QPainterPath cream;
        cream.addRoundedRect(rect.adjusted(4, 4, -4, -4), 2, 2);
        painter.fillPath(cream, rgba(0.92, 0.90, 0.84));
    }

    const QPointF pivot(rect.x() + rect.width() * vuPivotFracX, rect.y() + rect.height() * vuPivotFracY);
    const double angle = vuNeedleAngle(needleFrac);
    const double length = rect.height() * vuNeedleLength;
    const QPointF tip(pivot.x() + std::sin(angle) * length, pivot.y() - std::cos(angle) * length);
    const QRectF needleArea = QRectF(pivot, tip).normalized().adjusted(-1, -1, 1, 1);
    drawWithShadow(painter, QPointF(0.5, 1.0), 1.5, white(0, 0.3), needleArea, [&](QPainter& p) {
        p.setPen(QPen(white(0.06), 1.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(pivot, tip);
    });

    painter.setPen(Qt::NoPen);
    painter.setBrush(white(0.1));
    painter.drawEllipse(QRectF(pivot.x() - 2, pivot.y() - 2, 4, 4));
    painter.restore();
}

}  // namespace ondaline::ui
