#pragma once

// Rows placed down a drawer page at x = 18, each as wide as the column,
// from a running y that starts at 20.

#include "ui/console/console_view.h"

#include <QRectF>
#include <QWidget>

#include <type_traits>

namespace ondaline::app {

class DrawerColumn {
public:
    DrawerColumn(QWidget& page, double width) : page_(page), width_(width) {}

    template <typename View>
    View* row(View* view, double height)
    {
        view->setParent(&page_);
        const QRectF frame(18, y_, width_, height);
        if constexpr (std::is_base_of_v<ui::ConsoleView, View>) view->setFrame(frame);  // it may paint beyond it
        else view->setGeometry(frame.toRect());
        y_ += height;
        return view;
    }
    void space(double height) { y_ += height; }
    double y() const { return y_; }

private:
    QWidget& page_;
    double width_;
    double y_ = 20;
};

}  // namespace ondaline::app
