#pragma once

#include "ui/console/console_view.h"

#include <QString>

#include <functional>

namespace ondaline::ui {

// The console's push button: a rounded, gradient-filled body with a centred
// title in one of three styles (green over gold over grey). It brightens
// while hovered in the active window, darkens while pressed, and runs its
// action when a left click is released on it.
class ConsoleButton : public ConsoleView {
    Q_OBJECT
public:
    // Runs on a completed click with the button; it may delete the button.
    using Action = std::function<void(ConsoleButton&)>;

    explicit ConsoleButton(QWidget* parent = nullptr);

    // Each setter repaints, also when the value does not change.
    QString title() const { return title_; }
    void setTitle(const QString& title);
    bool isGold() const { return isGold_; }
    void setGold(bool gold);
    bool isGreen() const { return isGreen_; }
    void setGreen(bool green);

    bool isPressed() const { return isPressed_; }
    bool isHovered() const { return isHovered_; }

    const Action& action() const { return action_; }
    void setAction(Action action) { action_ = std::move(action); }  // empty: clicks do nothing

protected:
    void draw(QPainter& painter) override;
    bool pressMovesWindow() const override { return false; }  // the button needs its release

    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool onBody(QPointF widgetPoint) const;
    void setHovered(bool hovered);
    void updateMask();

    QString title_;
    bool isGold_ = false;
    bool isGreen_ = false;
    bool isPressed_ = false;
    bool isHovered_ = false;
    Action action_;
};

}  // namespace ondaline::ui
