#pragma once

// The console's gold accent: the maker's name and the title on the
// dashboard, the titles of the drawer's pages.

#include "ui/console/console_paint.h"

#include <QColor>

namespace ondaline::app {

inline QColor goldColor(double alpha = 1.0) { return ui::rgba(0.78, 0.59, 0.18, alpha); }

}  // namespace ondaline::app
