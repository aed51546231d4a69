#pragma once

#include <QPushButton>

#include <functional>

namespace ondaline::editor {

// A colour swatch. It keeps the red, green and blue it was given as they
// are until the user picks another colour; a click opens the colour
// picker, whose every change counts as a change of the well.
class ColorWell : public QPushButton {
    Q_OBJECT
public:
    struct RGB {
        double red = 1, green = 1, blue = 1;
    };

    explicit ColorWell(QWidget* parent = nullptr);

    RGB color() const { return color_; }
    void setColor(RGB color);  // reports nothing
    // A colour the user picked: kept and reported.
    void pick(const QColor& color);

    std::function<void()> action;
    // Opens the picker; the real one is a colour dialog following the well.
    static std::function<void(ColorWell&)> picker;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    RGB color_;
};

}  // namespace ondaline::editor
