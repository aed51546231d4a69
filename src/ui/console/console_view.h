#pragma once

#include <QMarginsF>
#include <QPixmap>
#include <QRectF>
#include <QWidget>

class QPainter;

namespace ondaline::ui {

// The base of the console's drawn views. A view has a frame (the rectangle
// its owner gives it, in the parent's coordinates) and bounds (0, 0, W, H).
// Some looks paint a little past their bounds (a lamp's glow, a title wider
// than its button, the meter faces); such a view asks for a paint margin and
// its widget is that much larger than its frame, so nothing is cut, while
// its drawing, its events and its owner still work in frame terms.
class ConsoleView : public QWidget {
    Q_OBJECT
public:
    explicit ConsoleView(QWidget* parent = nullptr, QMarginsF paintMargin = {});

    void setFrame(const QRectF& frame);
    QRectF frame() const { return frame_; }
    QRectF bounds() const { return {0, 0, frame_.width(), frame_.height()}; }

    // Draws the view at its bounds into `painter` (origin at the bounds'
    // top-left), as paintEvent does; for renderings of the view alone.
    void render(QPainter& painter) { draw(painter); }

    // A point of the widget in bounds coordinates.
    QPointF toBounds(QPointF widgetPoint) const;

protected:
    virtual void draw(QPainter& painter) = 0;

    // For looks that change only with their size or a property: the drawing
    // is kept as a picture and repainted from it, so that a view drawn over
    // it (the moving needles) costs a copy, not the whole look again.
    // redraw() is update() for such a view when its look has changed.
    void cacheDrawing() { cached_ = true; }
    void redraw();
    void paintEvent(QPaintEvent* event) override;

    // AppKit's mouseDownCanMoveWindow: true passes a press on to the window,
    // which may move; false keeps it here.
    virtual bool pressMovesWindow() const { return true; }
    void mousePressEvent(QMouseEvent* event) override;

private:
    QMarginsF margin_;
    QRectF frame_;
    bool cached_ = false;
    QPixmap drawing_;  // the cached look; null when it must be drawn again
};

}  // namespace ondaline::ui
