#include "app/drawer_controls.h"

#include "app/status_line.h"

#include "ui/console/console_button.h"
#include "ui/console/console_paint.h"
#include "ui/console/wheel_scrolls_page.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace ondaline::app {

namespace {

// A rounded, bordered field; the focus shows as an accent ring around it.
constexpr const char* kTextFieldStyle =
    "QLineEdit { color: rgba(255, 255, 255, 220); background: rgba(0, 0, 0, 70);"
    " border: 1px solid rgba(255, 255, 255, 40); border-radius: 5px; padding: 0 5px; }"
    "QLineEdit:focus { border: 2px solid rgba(10, 132, 255, 200); padding: 0 4px; }";

}  // namespace

QLabel* makeDrawerLabel(const QString& text, double size, QFont::Weight weight, const QColor& color, double kern)
{
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    QFont font = ui::systemFont(size, weight);
    if (kern > 0) font.setLetterSpacing(QFont::AbsoluteSpacing, kern);
    label->setFont(font);
    setTextColor(*label, color);
    label->setText(text);
    return label;
}

QLineEdit* makeDrawerTextField(const QString& placeholder)
{
    auto* field = new QLineEdit;
    field->setPlaceholderText(placeholder);
    field->setFont(ui::systemFont(13));
    field->setStyleSheet(QString::fromLatin1(kTextFieldStyle));
    return field;
}

QComboBox* makeDrawerPopup(const QStringList& titles)
{
    auto* popup = new QComboBox;
    popup->addItems(titles);
    popup->setFont(ui::systemFont(13));
    ui::wheelScrollsPage(*popup);
    return popup;
}

ui::ConsoleButton* makeDrawerButton(const QString& title, std::function<void()> action)
{
    auto* button = new ui::ConsoleButton;
    button->setTitle(title);
    button->setGold(false);
    button->setAction([action = std::move(action)](ui::ConsoleButton&) { action(); });
    return button;
}

QWidget* makeDrawerDivider(double width)
{
    auto* divider = new QWidget;
    divider->resize(static_cast<int>(width), 1);
    QPalette palette = divider->palette();
    palette.setColor(QPalette::Window, ui::white(1.0, 0.06));
    divider->setPalette(palette);
    divider->setAutoFillBackground(true);
    return divider;
}

}  // namespace ondaline::app
