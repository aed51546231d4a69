#include "ui/console/wheel_scrolls_page.h"

#include <QEvent>
#include <QWidget>

namespace ondaline::ui {

namespace {

// Kept from the control and left unaccepted, the wheel goes on to the
// control's parents, up to the scroll view that holds the page.
class WheelToPage final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Wheel) return false;
        event->ignore();
        return true;
    }
};

}  // namespace

void wheelScrollsPage(QWidget& control) { control.installEventFilter(new WheelToPage(&control)); }

}  // namespace ondaline::ui
