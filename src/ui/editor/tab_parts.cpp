#include "ui/editor/tab_parts.h"

#include "ui/console/flipped_view.h"

#include <QLabel>
#include <QScrollArea>

namespace ondaline::editor {

QColor headingColor() { return QColor::fromRgbF(0.88f, 0.75f, 0.32f, 0.85f); }

QLabel* makeLabel(const QString& text, bool bold)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        font.setPixelSize(12);  // this desktop's bold face runs wider: 13 would cut "Source File:"
        label->setFont(font);
        palette.setColor(QPalette::WindowText, headingColor());
    } else {
        palette.setColor(QPalette::WindowText, QColor::fromRgbF(0.75f, 0.75f, 0.75f));
    }
    label->setPalette(palette);
    return label;
}

void setTextColor(QWidget& widget, const QColor& color)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    widget.setPalette(palette);
}

void addRule(QWidget& parent, const QRect& frame)
{
    auto* line = new QWidget(&parent);
    line->setGeometry(frame);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, QColor(255, 255, 255, 28));
    line->setPalette(palette);
    line->setAutoFillBackground(true);
}

ScrollingPane addScrollingPane(QWidget& parent, const QRect& frame, QSize documentSize)
{
    auto* pane = new QScrollArea(&parent);
    pane->setGeometry(frame);
    pane->setFrameShape(QFrame::NoFrame);
    pane->setWidgetResizable(false);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setAutoFillBackground(false);
    pane->viewport()->setAutoFillBackground(false);
    auto* document = new ui::FlippedView;
    document->resize(documentSize);
    pane->setWidget(document);
    document->setAutoFillBackground(false);  // setWidget turns it on
    return {pane, document};
}

}  // namespace ondaline::editor
