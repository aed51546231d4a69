#include "ui/editor/pane_rows.h"

#include "ui/editor/color_well.h"
#include "ui/editor/double_slider.h"
#include "ui/editor/tab_parts.h"

#include "ui/console/wheel_scrolls_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <tuple>

namespace ondaline::editor {

void ValueSlider::show(double value) const
{
    slider->setValue(value);
    label->setText(text(value));
}

void ValueSlider::showCount(std::int64_t count) const
{
    slider->setValue(static_cast<double>(count));
    label->setText(QString::number(count));
}

void ValueSlider::showFraction(double fraction) const
{
    slider->setFraction(fraction, 100);
    label->setText(text(fraction * 100));
}

void BoxSliders::show(double left, double bottom, double boxWidth, double boxHeight) const
{
    x->setValue(left);
    y->setValue(bottom);
    width->setValue(boxWidth);
    height->setValue(boxHeight);
}

void BoxSliders::read(double& left, double& bottom, double& boxWidth, double& boxHeight) const
{
    left = x->value();
    bottom = y->value();
    boxWidth = width->value();
    boxHeight = height->value();
}

PaneRows::PaneRows(QWidget& document, std::function<void(Redraw)> changed)
    : document_(document), changed_(std::move(changed))
{
}

QLabel* PaneRows::label(const QString& text, int x, int width, bool bold)
{
    QLabel* item = makeLabel(text, bold);
    item->setParent(&document_);
    item->setGeometry(x, y, width, 18);
    return item;
}

QLineEdit* PaneRows::field(int x, int width, const QString& placeholder)
{
    auto* item = new QLineEdit(&document_);
    item->setGeometry(x, y - 2, width, 24);
    item->setPlaceholderText(placeholder);
    return item;
}

QLineEdit* PaneRows::refreshingField(int x, int width, const QString& placeholder)
{
    QLineEdit* item = field(x, width, placeholder);
    QObject::connect(item, &QLineEdit::editingFinished, item, [changed = changed_] { changed(Redraw::all); });
    return item;
}

QLineEdit* PaneRows::sizeField(int x, int width)
{
    QLineEdit* item = refreshingField(x, width);
    item->setAlignment(Qt::AlignCenter);
    return item;
}

DoubleSlider* PaneRows::slider(int x, int width, double value, double minimum, double maximum)
{
    auto* item = new DoubleSlider(value, minimum, maximum, &document_);
    item->setGeometry(x, y - 2, width, 24);
    item->action = [changed = changed_] { changed(Redraw::all); };
    return item;
}

ValueSlider PaneRows::valueSlider(int x, int width, double value, double minimum, double maximum,
                                  QString (*text)(double), int labelX, int labelWidth, bool rightAligned)
{
    ValueSlider row{slider(x, width, value, minimum, maximum), label(text(value), labelX, labelWidth), text};
    if (rightAligned) row.label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row.slider->action = [row, changed = changed_] {
        row.label->setText(row.text(row.slider->value()));
        changed(Redraw::preview);
    };
    return row;
}

ColorWell* PaneRows::well(int x, int width, int height)
{
    auto* item = new ColorWell(&document_);
    item->setGeometry(x, y - 2, width, height);
    item->action = [changed = changed_] { changed(Redraw::all); };
    return item;
}

QComboBox* PaneRows::popup(int x, int width, const QStringList& items, int lift)
{
    auto* item = new QComboBox(&document_);
    item->addItems(items);
    ui::wheelScrollsPage(*item);
    item->setGeometry(x, y - lift, width, 26);
    QObject::connect(item, &QComboBox::activated, item, [changed = changed_] { changed(Redraw::all); });
    return item;
}

QCheckBox* PaneRows::check(const QString& text, int x, int width)
{
    auto* item = new QCheckBox(text, &document_);
    item->setGeometry(x, y, width, 18);
    QObject::connect(item, &QCheckBox::clicked, item, [changed = changed_] { changed(Redraw::all); });
    return item;
}

QCheckBox* PaneRows::groupCheck(const QString& text, int x, int width)
{
    QCheckBox* item = check(text, x, width);
    QFont font = item->font();
    font.setBold(true);
    font.setPixelSize(13);
    item->setFont(font);
    setTextColor(*item, headingColor());
    return item;
}

std::pair<DoubleSlider*, DoubleSlider*> PaneRows::positionRow(double h, double v)
{
    label(QStringLiteral("H:"), 16, 18);
    DoubleSlider* horizontal = slider(36, 284, h, 0, 1280);
    label(QStringLiteral("V:"), 340, 16);
    return {horizontal, slider(358, 286, v, 0, 720)};
}

std::pair<DoubleSlider*, DoubleSlider*> PaneRows::sizeRow(double w, double minW, double ht, double minHt, double maxHt)
{
    label(QStringLiteral("W:"), 16, 22);
    DoubleSlider* width = slider(40, 280, w, minW, 1280);
    label(QStringLiteral("Ht:"), 340, 22);
    return {width, slider(364, 280, ht, minHt, maxHt)};
}

BoxSliders PaneRows::boxRows(double h, double v, double w, double minW, double ht, double minHt, double maxHt)
{
    BoxSliders box;
    std::tie(box.x, box.y) = positionRow(h, v);
    y += 32;
    std::tie(box.width, box.height) = sizeRow(w, minW, ht, minHt, maxHt);
    return box;
}

void PaneRows::separator() { addRule(document_, {16, y, 628, 1}); }

}  // namespace ondaline::editor
