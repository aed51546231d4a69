#include "ui/console/keyable_borderless_window.h"

#include <QMouseEvent>
#include <QWindow>

namespace ondaline::ui {

KeyableBorderlessWindow::KeyableBorderlessWindow(Qt::WindowFlags flags, QWidget* parent)
    : QWidget(parent, flags | Qt::Window)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void KeyableBorderlessWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Without a frame some window managers leave a new window unfocused;
    // asked before it is mapped, the activation waits for the mapping.
    activateWindow();
}

void KeyableBorderlessWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    dragGrip_.reset();
    if (QWindow* handle = windowHandle(); handle && handle->startSystemMove()) return;
    dragGrip_ = event->globalPosition() - QPointF(pos());
}

void KeyableBorderlessWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragGrip_) {
        event->ignore();
        return;
    }
    move((event->globalPosition() - *dragGrip_).toPoint());
    event->accept();
}

void KeyableBorderlessWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (!dragGrip_ || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    dragGrip_.reset();
    event->accept();
}

}  // namespace ondaline::ui
