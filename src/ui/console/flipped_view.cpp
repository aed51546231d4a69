#include "ui/console/flipped_view.h"

#include <QMouseEvent>

namespace ondaline::ui {

FlippedView::FlippedView(QWidget* parent) : QWidget(parent) {}

void FlippedView::mousePressEvent(QMouseEvent* event) { event->accept(); }

}  // namespace ondaline::ui
