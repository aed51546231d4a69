// The mock spectrum: while the bars are on, it moves them twelve times a
// second so that the preview shows them as the stream would.

#include "ui/editor/overlay_editor_controller.h"

#include "ui/editor/now_playing_tab.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace ondaline::editor {

void OverlayEditorController::updateMockAnimation()
{
    const bool enabled = nowPlaying_ && nowPlaying_->visualization().enabled;
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
    // The timer runs only once the tabs are there.
    const auto n = static_cast<int>(nowPlaying_->visualization().barCount);
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
