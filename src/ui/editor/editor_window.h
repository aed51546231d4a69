#pragma once

#include <QWidget>

#include <functional>

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

// A frame given with its origin at the bottom left of a `parentHeight`-high
// parent, in the parent's top-left coordinates.
QRect fromBottomLeft(double x, double y, double width, double height, double parentHeight);

}  // namespace ondaline::editor
