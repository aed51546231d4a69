#include "ui/editor/color_well.h"

#include <QColorDialog>
#include <QPainter>

namespace ondaline::editor {

namespace {

QColor toQColor(ColorWell::RGB c)
{
    return QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green), static_cast<float>(c.blue));
}

void runColorDialog(ColorWell& well)
{
    const ColorWell::RGB original = well.color();
    bool changed = false;
    QColorDialog dialog(toQColor(original), &well);
    QObject::connect(&dialog, &QColorDialog::currentColorChanged, &well, [&](const QColor& c) {
        changed = true;
        well.pick(c);
    });
    if (dialog.exec() == QDialog::Accepted || !changed) return;
    // Cancelled after trying colours: the one it had, exactly.
    well.setColor(original);
    if (well.action) well.action();
}

}  // namespace

std::function<void(ColorWell&)> ColorWell::picker = runColorDialog;

ColorWell::ColorWell(QWidget* parent) : QPushButton(parent)
{
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] {
        if (picker) picker(*this);
    });
}

void ColorWell::setColor(RGB color)
{
    color_ = color;
    update();
}

void ColorWell::pick(const QColor& color)
{
    const QColor rgb = color.toRgb();
    color_ = {rgb.redF(), rgb.greenF(), rgb.blueF()};
    update();
    if (action) action();
}

void ColorWell::paintEvent(QPaintEvent* event)
{
    QPushButton::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QColor(0, 0, 0, 120));
    painter.setBrush(toQColor(color_));
    painter.drawRect(rect().adjusted(5, 5, -6, -6));
}

}  // namespace ondaline::editor
