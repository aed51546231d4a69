#pragma once

#include "ui/console/console_view.h"

namespace ondaline::ui {

// The side drawer's frame, in the console bezel's metal. Its left side is
// square, where the drawer meets the console, and its groove runs along that
// left edge; only the right corners are rounded.
class DrawerBezelView : public ConsoleView {
    Q_OBJECT
public:
    explicit DrawerBezelView(QWidget* parent = nullptr);

protected:
    void draw(QPainter& painter) override;
};

}  // namespace ondaline::ui
