#pragma once

#include "ui/console/console_view.h"

namespace ondaline::ui {

// The round green status lamp: lit, a bright lens with a soft glow around
// it; unlit, a dark lens. It only draws; its owner decides when it is lit.
// It draws y-up, so its small highlight sits near the bottom on screen.
class LEDIndicatorView : public ConsoleView {
    Q_OBJECT
public:
    explicit LEDIndicatorView(QWidget* parent = nullptr);

    bool isLit() const { return isLit_; }
    void setLit(bool lit);  // repaints on every call, also with the same value

protected:
    void draw(QPainter& painter) override;

private:
    bool isLit_ = false;
};

}  // namespace ondaline::ui
