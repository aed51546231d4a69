#pragma once

#include "ui/console/console_view.h"
#include "ui/console/vu_meter_dynamics.h"

#include <QImage>
#include <QTimer>

#include <array>
#include <string>
#include <vector>

namespace ondaline::ui {

// The stereo needle meter of the console face: two meters side by side,
// left channel on the left. The owner writes the target levels in meter dB
// (0 = −18 dBFS) as often as it likes; once animating, the needles swing
// towards them 30 times a second and the view redraws itself.
class VUMeterView : public ConsoleView {
    Q_OBJECT
public:
    // Searches the usual places for the face image (logging the search).
    explicit VUMeterView(QWidget* parent = nullptr);
    // Searches only `faceCandidates`.
    explicit VUMeterView(const std::vector<std::string>& faceCandidates, QWidget* parent = nullptr);

    float targetLevelL() const { return targetLevelL_; }
    float targetLevelR() const { return targetLevelR_; }
    // No repaint: the animation draws the next tick. A target the needle
    // already rests at wakes no ticks.
    void setTargetLevelL(float level);
    void setTargetLevelR(float level);

    // Starts, or restarts, the needle ticks. While animating, the ticks pause
    // whenever both needles rest at their targets.
    void startAnimating();
    void stopAnimating();

protected:
    void draw(QPainter& painter) override;

private:
    void tick();
    void wakeFor(double target, const VUNeedle& needle);
    double stillDistance() const;  // arc fraction the needle's tip crosses in half a pixel
    const QImage& faceAt(QSize size);

    float targetLevelL_ = -40;
    float targetLevelR_ = -40;
    VUNeedle needleL_;
    VUNeedle needleR_;
    double drawnL_ = -1, drawnR_ = -1;  // needle positions of the last repaint asked for
    bool animating_ = false;
    QTimer timer_{this};
    QImage face_;        // as loaded; null when none was found
    QImage scaledFace_;  // face_ at the meters' current size
};

// The two meter rectangles of a W × H view: 1.82 : 1, 8 apart and from the
// sides, centred vertically (so past the top and bottom in a wide view).
std::array<QRectF, 2> vuMeterRects(QSizeF viewSize);

// One meter in `rect` with its needle at `needleFrac`: `face` stretched over
// it, or the plain cream fallback face when `face` is null.
void drawVUMeter(QPainter& painter, const QRectF& rect, double needleFrac, const QImage& face);

}  // namespace ondaline::ui
