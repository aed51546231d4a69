#pragma once

#include "ui/console/console_view.h"

namespace ondaline::ui {

// The drawer's blue-grey panel behind its pages: square on the left, rounded
// on the right, with a thin dark edge and no gloss. Presses on it stay with
// the drawer instead of moving the window.
class DrawerFaceView : public ConsoleView {
    Q_OBJECT
public:
    explicit DrawerFaceView(QWidget* parent = nullptr);

protected:
    void draw(QPainter& painter) override;
    bool pressMovesWindow() const override { return false; }
};

}  // namespace ondaline::ui
