#pragma once

class QWidget;

namespace ondaline::ui {

// The wheel over `control` (a pop-up or slider on a scrolling page) scrolls
// the page, as over any other part of it, and never steps the control's
// value: a scroll that passes over a control must not change a setting.
// Clicks and keys choose as before.
void wheelScrollsPage(QWidget& control);

}  // namespace ondaline::ui
