#include "ui/console/dark_palette.h"

namespace ondaline::ui {

QPalette darkControlsPalette(const QColor& window)
{
    QPalette palette;
    const QColor text(255, 255, 255, 217);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(40, 40, 44));
    palette.setColor(QPalette::AlternateBase, QColor(48, 48, 52));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 64));
    palette.setColor(QPalette::Button, QColor(68, 68, 72));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(50, 50, 52));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Light, QColor(96, 96, 100));
    palette.setColor(QPalette::Midlight, QColor(80, 80, 84));
    palette.setColor(QPalette::Mid, QColor(58, 58, 62));
    palette.setColor(QPalette::Dark, QColor(24, 24, 26));
    palette.setColor(QPalette::Shadow, QColor(0, 0, 0));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(255, 255, 255, 64));
    return palette;
}

}  // namespace ondaline::ui
