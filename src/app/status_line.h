#pragma once

// Setting the dashboard's connect button and status line, which the
// streaming looks and the engine's reports share. Both tolerate a dashboard
// that is not built.

#include "ui/console/console_button.h"
#include "ui/console/console_paint.h"

#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QString>

namespace ondaline::app {

inline QColor ordinaryStatusColor() { return ui::white(1.0, 0.4); }

// A label's text colour is its palette's WindowText, as the dashboard's
// labels are built.
inline void setTextColor(QLabel& label, const QColor& color)
{
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, color);
    label.setPalette(palette);
}

inline void showStatus(QLabel* label, const QString& text, const QColor& color)
{
    if (!label) return;
    label->setText(text);
    setTextColor(*label, color);
}

inline void showConnectButton(ui::ConsoleButton* button, const QString& title, bool gold, bool green)
{
    if (!button) return;
    button->setTitle(title);
    button->setGold(gold);
    button->setGreen(green);
}

}  // namespace ondaline::app
