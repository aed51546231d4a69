#pragma once

#include "ui/console/console_view.h"

namespace ondaline::ui {

// The console's dark blue-grey face panel inside the bezel's groove: rounded
// corners, a thin dark edge and a diagonal gloss over its top-left part.
class ConsoleFaceView : public ConsoleView {
    Q_OBJECT
public:
    explicit ConsoleFaceView(QWidget* parent = nullptr);

protected:
    void draw(QPainter& painter) override;
};

}  // namespace ondaline::ui
