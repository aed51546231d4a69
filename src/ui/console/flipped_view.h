#pragma once

#include <QWidget>

namespace ondaline::ui {

// A plain container for the drawer pages and the editor's scroll contents.
// It takes the presses its children leave, so a drag on a page's background
// stays on the page instead of moving the window.
class FlippedView : public QWidget {
    Q_OBJECT
public:
    explicit FlippedView(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace ondaline::ui
