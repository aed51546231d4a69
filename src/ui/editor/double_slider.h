#pragma once

#include <QSlider>

#include <functional>
#include <optional>
#include <utility>

namespace ondaline::editor {

// A horizontal slider over a range of doubles. A value set in code is kept
// exactly (clamped to the range), so that a value loaded and saved again
// comes back bit for bit; a drag moves in fine steps and reports each one.
class DoubleSlider : public QSlider {
    Q_OBJECT
public:
    DoubleSlider(double value, double minimum, double maximum, QWidget* parent = nullptr);

    double value() const { return value_; }
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    // Clamps and keeps the value; reports nothing.
    void setValue(double value);
    // A stored fraction shown as `fraction` x `scale` (a percentage): until
    // the slider moves, fraction() gives back the stored number itself, so
    // that showing and saving again does not round it.
    void setFraction(double fraction, double scale);
    double fraction(double scale) const;

    // Runs for every value the user moves the slider to.
    std::function<void()> action;

private:
    static constexpr int kSteps = 10000;
    int position(double value) const;

    double minimum_, maximum_, value_;
    std::optional<std::pair<double, double>> fractionShown_;  // the stored fraction and the value it became
    bool settingInCode_ = false;
};

}  // namespace ondaline::editor
