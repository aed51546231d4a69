#pragma once

#include <QWidget>

#include <functional>

class QScrollArea;

namespace ondaline::editor {

// The editor's top-level window: fixed in size, with a title and a close box
// only. Closing it by its close box first runs `onCloseBox`.
class EditorWindow : public QWidget {
    Q_OBJECT
public:
    EditorWindow();

    std::function<void()> onCloseBox;
    bool closingInCode = false;  // set while the program itself closes it

protected:
    void closeEvent(QCloseEvent* event) override;
};

// Installed on a pop-up in a scrolling pane: the wheel scrolls the pane, as
// over the pane's sliders, instead of changing the choice under the pointer.
// Ends with `owner`.
class WheelScrollsPane final : public QObject {
public:
    WheelScrollsPane(QScrollArea& pane, QObject& owner);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QScrollArea& pane_;
};

// A frame given with its origin at the bottom left of a `parentHeight`-high
// parent, in the parent's top-left coordinates.
QRect fromBottomLeft(double x, double y, double width, double height, double parentHeight);

}  // namespace ondaline::editor
