// The controls' reactions: the preview follows every change and a save is
// scheduled; the value sliders also write their value beside them; and
// while the bars are on, a mock spectrum moves them twelve times a second.

#include "ui/editor/overlay_editor_controller.h"

#include "ui/editor/double_slider.h"
#include "ui/editor/number_text.h"

#include <QCheckBox>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace ondaline::editor {

namespace {

void showWhole(const DoubleSlider& slider, QLabel& label, const char* suffix)
{
    label.setText(QString::fromStdString(wholeNumberText(slider.value()) + suffix));
}

}  // namespace

void OverlayEditorController::refreshPreview()
{
    updatePreview();
    scheduleDebouncedSave();
    updateMockAnimation();
}

void OverlayEditorController::bgAlphaSliderChanged()
{
    showWhole(*npBgAlphaSlider, *npBgAlphaLabel, "%");
    valueSliderMoved();
}

void OverlayEditorController::vizOpacityChanged()
{
    showWhole(*vizOpacitySlider, *vizOpacityLabel, "%");
    valueSliderMoved();
}

void OverlayEditorController::vizSensChanged()
{
    vizSensLabel->setText(QString::fromStdString(oneDecimalText(vizSensSlider->value())) + QChar(0x00D7));
    valueSliderMoved();
}

void OverlayEditorController::vizBarCountChanged()
{
    showWhole(*vizBarCountSlider, *vizBarCountLabel, "");
    valueSliderMoved();
}

void OverlayEditorController::vizSegCountChanged()
{
    showWhole(*vizSegCountSlider, *vizSegCountLabel, "");
    valueSliderMoved();
}

void OverlayEditorController::vizSegGapChanged()
{
    showWhole(*vizSegGapSlider, *vizSegGapLabel, "px");
    valueSliderMoved();
}

void OverlayEditorController::crawlerSpeedChanged()
{
    crawlerSpeedLabel->setText(QString::fromStdString(oneDecimalText(crawlerSpeedSlider->value())));
    valueSliderMoved();
}

void OverlayEditorController::crawlerBarAlphaChanged()
{
    showWhole(*crawlerBarAlphaSlider, *crawlerBarAlphaLabel, "%");
    valueSliderMoved();
}

void OverlayEditorController::valueSliderMoved()
{
    updatePreview();
    scheduleDebouncedSave();
}

void OverlayEditorController::updateMockAnimation()
{
    const bool enabled = vizEnableCheck && vizEnableCheck->isChecked();
    if (enabled && !mockAnimTimer_) {
        mockAnimTimer_ = new QTimer(this);
        mockAnimTimer_->setTimerType(Qt::PreciseTimer);
        mockAnimTimer_->setInterval(83);  // 1/12 s
        connect(mockAnimTimer_, &QTimer::timeout, this, [this] { tickMockAnimation(); });
        mockAnimTimer_->start();
    } else if (!enabled && mockAnimTimer_) {
        mockAnimTimer_->stop();
        mockAnimTimer_->deleteLater();
        mockAnimTimer_ = nullptr;
    }
}

void OverlayEditorController::tickMockAnimation()
{
    const int n = vizBarCountSlider ? static_cast<int>(std::trunc(vizBarCountSlider->value())) : 15;
    mockPhase_ = mockPhase_ + 0.18f;
    const double t = static_cast<double>(mockPhase_);
    std::vector<float> levels(static_cast<std::size_t>(std::max(n, 0)), 0.0f);
    for (int i = 0; i < n; ++i) {
        const double a = (t * static_cast<double>(i + 1)) * 0.08 + static_cast<double>(i) * 0.6;
        const float u = static_cast<float>(0.25 + 0.45 * std::sin(a));
        const double b = t * 2.1 + static_cast<double>(i) * 1.3;
        const float v = static_cast<float>(0.15 * std::sin(b));
        const float level = u + v;
        levels[static_cast<std::size_t>(i)] = std::max(0.0f, std::min(1.0f, level));
    }
    mockLevels_ = std::move(levels);
    updatePreview();
}

}  // namespace ondaline::editor
