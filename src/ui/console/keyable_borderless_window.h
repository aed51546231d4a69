#pragma once

#include <QPointF>
#include <QWidget>

#include <optional>

namespace ondaline::ui {

// The dashboard's top-level window, usually without a frame (the caller's
// flags decide). It becomes the active window when shown, so its fields take
// keys, and with no title bar to hold it is moved by dragging its background:
// a left press that no child keeps hands the move to the window manager, or,
// where none answers, the window follows the mouse until the release.
class KeyableBorderlessWindow : public QWidget {
    Q_OBJECT
public:
    explicit KeyableBorderlessWindow(Qt::WindowFlags flags = {}, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::optional<QPointF> dragGrip_;  // the press point relative to the window's position
};

}  // namespace ondaline::ui
