#pragma once

// The parts both tabs of the editor are made of, drawn alike on each.

#include <QColor>
#include <QRect>
#include <QSize>
#include <QString>

class QLabel;
class QScrollArea;
class QWidget;

namespace ondaline::editor {

// The amber of headings and group titles.
QColor headingColor();

// A plain-text label: light grey, or a bold amber heading.
QLabel* makeLabel(const QString& text, bool bold = false);

// The text colour of a label or a check box.
void setTextColor(QWidget& widget, const QColor& color);

// A faint line across `parent` at `frame`.
void addRule(QWidget& parent, const QRect& frame);

// A frameless pane over `frame` of `parent` that scrolls a document of
// `documentSize` (top-left origin) up and down; neither draws a ground.
struct ScrollingPane {
    QScrollArea* pane;
    QWidget* document;
};
ScrollingPane addScrollingPane(QWidget& parent, const QRect& frame, QSize documentSize);

}  // namespace ondaline::editor
