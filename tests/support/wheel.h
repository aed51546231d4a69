#pragma once

#include <QApplication>
#include <QWheelEvent>
#include <QWidget>
#include <QtTest/qtestspontaneevent.h>

namespace ondaline::test {

// Notches of a mouse wheel over the middle of `widget` (positive: towards
// the user, down the page), delivered as the window system delivers them:
// to the widget under the pointer, then up through its parents for as long
// as none takes them.
inline void turnWheel(QWidget& widget, int notchesDown)
{
    const QPointF at = QRectF(widget.rect()).center();
    QWheelEvent wheel(at, widget.mapToGlobal(at), QPoint(), QPoint(0, -120 * notchesDown), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&wheel);
    QApplication::instance()->notify(&widget, &wheel);
}

}  // namespace ondaline::test
