#include "ui/console/drawer_face_view.h"

#include "ui/console/console_paint.h"
#include "ui/console/console_palette.h"
#include "ui/console/per_corner_path.h"

#include <QPainter>

namespace ondaline::ui {

DrawerFaceView::DrawerFaceView(QWidget* parent) : ConsoleView(parent) { cacheDrawing(); }

void DrawerFaceView::draw(QPainter& painter)
{
    const QPainterPath outline = makePerCornerPath(bounds(), 0, 12, 12, 0);
    drawFacePanel(painter, outline);
}

}  // namespace ondaline::ui
