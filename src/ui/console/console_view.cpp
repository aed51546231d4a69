#include "ui/console/console_view.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace ondaline::ui {

ConsoleView::ConsoleView(QWidget* parent, QMarginsF paintMargin) : QWidget(parent), margin_(paintMargin)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void ConsoleView::setFrame(const QRectF& frame)
{
    frame_ = frame;
    const QRectF outer = frame.marginsAdded(margin_);
    setGeometry(QRect(static_cast<int>(std::floor(outer.left())), static_cast<int>(std::floor(outer.top())),
                      static_cast<int>(std::ceil(outer.width())), static_cast<int>(std::ceil(outer.height()))));
    update();
}

QPointF ConsoleView::toBounds(QPointF widgetPoint) const
{
    const QPointF origin = frame_.topLeft() - QPointF(geometry().topLeft());
    return widgetPoint - origin;
}

void ConsoleView::redraw()
{
    drawing_ = QPixmap();
    update();
}

void ConsoleView::paintEvent(QPaintEvent*)
{
    const auto drawOn = [this](QPainter& painter) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(frame_.topLeft() - QPointF(geometry().topLeft()));
        draw(painter);
    };
    if (!cached_) {
        QPainter painter(this);
        drawOn(painter);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    if (drawing_.isNull() || drawing_.size() != size() * ratio) {
        drawing_ = QPixmap(size() * ratio);
        drawing_.setDevicePixelRatio(ratio);
        drawing_.fill(Qt::transparent);
        QPainter painter(&drawing_);
        drawOn(painter);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, drawing_);
}

void ConsoleView::mousePressEvent(QMouseEvent* event)
{
    if (pressMovesWindow()) event->ignore();  // on to the parent, and so to the window
    else event->accept();
}

}  // namespace ondaline::ui
