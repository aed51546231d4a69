#pragma once

#include "ui/console/console_view.h"

namespace ondaline::ui {

// The console's outer frame: grey metal in a rounded outline, a soft sheen
// along the top, a fine light hairline at the edge and a dark groove 11 px
// inside. Its right corners turn square while the drawer is out, so that
// the bezel meets the drawer's square left side.
class ConsoleBezelView : public ConsoleView {
    Q_OBJECT
public:
    explicit ConsoleBezelView(QWidget* parent = nullptr);

    bool rightCornersFlat() const { return rightCornersFlat_; }
    void setRightCornersFlat(bool flat);  // repaints on every assignment

protected:
    void draw(QPainter& painter) override;

private:
    bool rightCornersFlat_ = false;
};

}  // namespace ondaline::ui
