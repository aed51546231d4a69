#include "ui/editor/double_slider.h"

#include "ui/console/wheel_scrolls_page.h"

#include <algorithm>
#include <cmath>

namespace ondaline::editor {

DoubleSlider::DoubleSlider(double value, double minimum, double maximum, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), minimum_(minimum), maximum_(maximum), value_(minimum)
{
    QSlider::setRange(0, kSteps);
    setTracking(true);  // every step of a drag is a change
    ui::wheelScrollsPage(*this);
    setValue(value);
    connect(this, &QAbstractSlider::valueChanged, this, [this](int step) {
        if (settingInCode_) return;
        value_ = minimum_ + (maximum_ - minimum_) * step / kSteps;
        fractionShown_.reset();
        if (action) action();
    });
}

void DoubleSlider::setFraction(double fraction, double scale)
{
    setValue(fraction * scale);
    fractionShown_ = std::pair(fraction, value_);
}

double DoubleSlider::fraction(double scale) const
{
    // Clamped on the way in, or moved since: the slider's value is the setting.
    if (fractionShown_ && fractionShown_->first * scale == fractionShown_->second && value_ == fractionShown_->second)
        return fractionShown_->first;
    return value_ / scale;
}

void DoubleSlider::setValue(double value)
{
    fractionShown_.reset();
    value_ = std::clamp(value, minimum_, maximum_);
    settingInCode_ = true;
    QSlider::setValue(position(value_));
    settingInCode_ = false;
}

int DoubleSlider::position(double value) const
{
    if (!(maximum_ > minimum_)) return 0;
    return static_cast<int>(std::lround((value - minimum_) / (maximum_ - minimum_) * kSteps));
}

}  // namespace ondaline::editor
