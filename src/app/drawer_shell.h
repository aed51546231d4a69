#pragma once

// The side drawer's frame right of the dashboard's console: its bezel and
// face, the scroll view that holds the page in view, and the slide that
// widens the window to show it while the face fades in. Which page it
// holds, and when, is the controller's.

#include <QObject>
#include <QPointer>

#include <functional>

class QGraphicsOpacityEffect;
class QParallelAnimationGroup;
class QScrollArea;
class QWidget;

namespace ondaline::ui {
class ConsoleBezelView;
class DrawerBezelView;
class DrawerFaceView;
}  // namespace ondaline::ui

namespace ondaline::app {

class DrawerShell {
public:
    static constexpr double width = 360;

    DrawerShell() = default;
    ~DrawerShell();  // a slide under way stops without reaching its end
    DrawerShell(const DrawerShell&) = delete;
    DrawerShell& operator=(const DrawerShell&) = delete;

    // Built once, beside the console's bezel in its content widget, hidden
    // beyond the closed window's edge.
    void build(QWidget& window, ui::ConsoleBezelView& consoleBezel);
    bool isBuilt() const { return bezel_ != nullptr; }

    // The page in view from now on; the old one goes once its signals are
    // over. Without a drawer the page is deleted.
    void setPage(QWidget* page);
    // Slides out (0.4 s) showing the page in view; open once it ends.
    void open();
    // Slides in (0.35 s); once closed, runs `finished`. A slide under way
    // stops where it is and its end is dropped.
    void close(std::function<void()> finished);
    bool isOpen() const { return open_; }  // changes only when a slide ends
    bool isSliding() const { return !slide_.isNull(); }
    QParallelAnimationGroup* slide() const;  // the one under way, if any

    QScrollArea* scrollView() const { return scroll_; }
    QGraphicsOpacityEffect* faceFade() const { return fade_; }

private:
    void startSlide(double windowWidth, int milliseconds, double opacity, std::function<void()> finished);

    QWidget* window_ = nullptr;
    ui::ConsoleBezelView* consoleBezel_ = nullptr;
    // Owned by the window:
    ui::DrawerBezelView* bezel_ = nullptr;
    ui::DrawerFaceView* face_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QGraphicsOpacityEffect* fade_ = nullptr;
    QPointer<QParallelAnimationGroup> slide_;  // the slide under way
    QMetaObject::Connection slideEnd_;         // its end, to us
    bool open_ = false;
};

}  // namespace ondaline::app
