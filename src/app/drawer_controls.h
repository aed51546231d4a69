#pragma once

// The controls the drawer's pages are made of: labels in the console's type,
// text fields, pop-ups, grey buttons and the faint divider lines. None gets
// a parent or a frame; the page places it.

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace ondaline::ui {
class ConsoleButton;
}

namespace ondaline::app {

// `kern` is the letter spacing in pixels; none at 0.
QLabel* makeDrawerLabel(const QString& text, double size, QFont::Weight weight, const QColor& color, double kern);
QLineEdit* makeDrawerTextField(const QString& placeholder);
// The wheel over it scrolls the page; only a click or a key chooses.
QComboBox* makeDrawerPopup(const QStringList& titles);
QWidget* makeDrawerDivider(double width);
// A grey console button that runs `action`.
ui::ConsoleButton* makeDrawerButton(const QString& title, std::function<void()> action);

}  // namespace ondaline::app
