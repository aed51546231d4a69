#include "ui/console/console_button.h"

#include "ui/console/console_paint.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>

namespace ondaline::ui {

namespace {

// A title wider (or taller) than the button is drawn past its edges, into
// this margin.
constexpr QMarginsF titleMargin(200, 20, 200, 20);

QFont titleFont() { return systemFont(15, QFont::DemiBold); }

// Where the title's line sits in bounds coordinates: its advance box, top-left
// at ((W − width) / 2, (H − (ascent + descent)) / 2).
QRectF titleBox(const QString& title, QSizeF size)
{
    const QFontMetricsF metrics(titleFont());
    const double width = metrics.horizontalAdvance(title);
    const double height = metrics.ascent() + metrics.descent();
    return {(size.width() - width) / 2, (size.height() - height) / 2, width, height};
}

}  // namespace

ConsoleButton::ConsoleButton(QWidget* parent) : ConsoleView(parent, titleMargin)
{
    setMouseTracking(true);  // hover follows the body, not the whole widget
}

void ConsoleButton::setTitle(const QString& title)
{
    title_ = title;
    updateMask();
    update();
}

void ConsoleButton::setGold(bool gold)
{
    isGold_ = gold;
    update();
}

void ConsoleButton::setGreen(bool green)
{
    isGreen_ = green;
    update();
}

bool ConsoleButton::onBody(QPointF widgetPoint) const
{
    const QPointF p = toBounds(widgetPoint);
    const QRectF b = bounds();
    return p.x() >= 0 && p.x() < b.width() && p.y() >= 0 && p.y() < b.height();
}

void ConsoleButton::setHovered(bool hovered)
{
    if (hovered == isHovered_) return;
    isHovered_ = hovered;
    update();
}

void ConsoleButton::enterEvent(QEnterEvent* event)
{
    // Hover counts only in the active window.
    setHovered(isActiveWindow() && onBody(event->position()));
}

void ConsoleButton::leaveEvent(QEvent*) { setHovered(false); }

void ConsoleButton::mouseMoveEvent(QMouseEvent* event)
{
    // While a button is down the hover look holds until the release.
    if (event->buttons() == Qt::NoButton) setHovered(isActiveWindow() && onBody(event->position()));
}

void ConsoleButton::mousePressEvent(QMouseEvent* event)
{
    // A right click, or a press on the overhanging title, is not the button's.
    if (event->button() != Qt::LeftButton || !onBody(event->position())) {
        event->ignore();
        return;
    }
    ConsoleView::mousePressEvent(event);
    isPressed_ = true;
    update();
}

void ConsoleButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const bool inside = isPressed_ && onBody(event->position());
    isPressed_ = false;
    update();
    if (!inside || !action_) return;
    // The action may delete this button: run a copy and touch nothing after.
    const Action action = action_;
    action(*this);
}

void ConsoleButton::moveEvent(QMoveEvent*) { updateMask(); }

void ConsoleButton::resizeEvent(QResizeEvent*) { updateMask(); }

// The widget is larger than the button so that a long title is not cut; the
// mask keeps the rest of that margin see-through for the pointer, so the
// button never hides its neighbours.
void ConsoleButton::updateMask()
{
    const QPointF origin = QPointF(0, 0) - toBounds({0, 0});
    const QFontMetricsF metrics(titleFont());
    const QRectF box = titleBox(title_, bounds().size());
    const QRectF glyphs = metrics.boundingRect(title_).translated(box.left(), box.top() + metrics.ascent());
    const QRectF body = bounds().translated(origin);
    const QRectF ink = box.united(glyphs).translated(origin).adjusted(-2, -2, 2, 2);  // antialiasing
    setMask(QRegion(body.toAlignedRect()).united(ink.toAlignedRect()));
}

void ConsoleButton::draw(QPainter& painter)
{
    const QRectF b = bounds();
    QPainterPath body;
    body.addRoundedRect(b.adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);

    const double o = isPressed_ ? -0.05 : (isHovered_ ? 0.08 : 0.0);
    QGradientStops stops;
    if (isGreen_) {
        stops = {{0, rgba(0.27 + o, 0.73 + o, 0.27 + o)},
                 {0.5, rgba(0.20 + o, 0.60 + o, 0.20 + o)},
                 {1, rgba(0.13 + o, 0.53 + o, 0.13 + o)}};
    } else if (isGold_) {
        // Shading moves red and green only.
        stops = {{0, rgba(0.88 + o, 0.72 + o, 0.25)},
                 {0.5, rgba(0.78 + o, 0.59 + o, 0.19)},
                 {1, rgba(0.66 + o, 0.47 + o, 0.13)}};
    } else {
        stops = {{0, white(0.23 + o)}, {0.5, white(0.18 + o)}, {1, white(0.15 + o)}};
    }
    fillWithAngledGradient(painter, body, stops, -90);
    painter.strokePath(body, QPen(white(1.0, 0.06), 0.5));

    const QColor titleColor = isGreen_ ? white(1.0) : (isGold_ ? white(0.1) : white(0.7));
    const QFont font = titleFont();
    const QRectF box = titleBox(title_, b.size());
    painter.save();
    painter.setFont(font);
    painter.setPen(titleColor);
    painter.drawText(QPointF(box.left(), box.top() + QFontMetricsF(font).ascent()), title_);
    painter.restore();
}

}  // namespace ondaline::ui
