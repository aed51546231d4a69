#pragma once

#include <QPalette>

namespace ondaline::ui {

// The dark look of the standard controls on the drawer's pages and in the
// editor, whatever the desktop's theme; `window` is the ground they lie on.
QPalette darkControlsPalette(const QColor& window);

}  // namespace ondaline::ui
