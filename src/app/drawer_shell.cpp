#include "app/drawer_shell.h"

#include "app/dashboard_view.h"
#include "ui/console/console_bezel_view.h"
#include "ui/console/dark_palette.h"
#include "ui/console/drawer_bezel_view.h"
#include "ui/console/drawer_face_view.h"

#include <QEasingCurve>
#include <QGraphicsOpacityEffect>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QScrollArea>

namespace ondaline::app {

namespace {

constexpr double consoleW = DashboardView::width;
constexpr double consoleH = DashboardView::height;
constexpr double bezelPad = DashboardView::bezelPad;

QEasingCurve easeInEaseOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment({0.42, 0.0}, {0.58, 1.0}, {1.0, 1.0});
    return curve;
}

// The face's fade is on only while the face is see-through. At full opacity
// Qt's effect paints the face's views with a painter of its own on the
// window, and a view there with an effect of its own (the activity page's
// badge) then cannot begin its painter on the same window; a fully opaque
// effect shows nothing that the face alone would not.
void fadeOnlyWhileSeeThrough(QGraphicsOpacityEffect& fade) { fade.setEnabled(!qFuzzyIsNull(fade.opacity() - 1)); }

}  // namespace

DrawerShell::~DrawerShell()
{
    if (!slide_) return;
    QObject::disconnect(slideEnd_);
    delete slide_.data();
}

void DrawerShell::build(QWidget& window, ui::ConsoleBezelView& consoleBezel)
{
    QWidget* content = consoleBezel.parentWidget();
    if (!content) return;
    window_ = &window;
    consoleBezel_ = &consoleBezel;

    bezel_ = new ui::DrawerBezelView(content);
    bezel_->setFrame({consoleW, 0, width, consoleH});
    bezel_->hide();

    face_ = new ui::DrawerFaceView(bezel_);
    face_->setFrame({0, bezelPad, width - bezelPad, consoleH - 2 * bezelPad});
    face_->setPalette(ui::darkControlsPalette(QColor(50, 50, 52)));
    fade_ = new QGraphicsOpacityEffect(face_);
    fade_->setOpacity(0.0);
    face_->setGraphicsEffect(fade_);
    QObject::connect(fade_, &QGraphicsOpacityEffect::opacityChanged, fade_,
                     [fade = fade_] { fadeOnlyWhileSeeThrough(*fade); });

    scroll_ = new QScrollArea(face_);
    scroll_->setGeometry(face_->rect());
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(false);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setAutoFillBackground(false);
    scroll_->viewport()->setAutoFillBackground(false);
}

void DrawerShell::setPage(QWidget* page)
{
    if (!scroll_) {
        delete page;
        return;
    }
    // The old page may hold the control whose signal got us here.
    if (QWidget* old = scroll_->takeWidget()) old->deleteLater();
    scroll_->setWidget(page);
    page->setAutoFillBackground(false);  // the face shows through
}

void DrawerShell::open()
{
    if (!bezel_) return;
    consoleBezel_->setRightCornersFlat(true);
    bezel_->show();
    fade_->setOpacity(0.0);
    consoleBezel_->parentWidget()->setGeometry(0, 0, static_cast<int>(consoleW + width), static_cast<int>(consoleH));
    startSlide(consoleW + width, 400, 1.0, [this] {
        open_ = true;
        // Fully shown, the face needs no effect, which would also hide the
        // effects of the views on it.
        fade_->setEnabled(false);
    });
}

void DrawerShell::close(std::function<void()> finished)
{
    if (!bezel_) return;
    startSlide(consoleW, 350, 0.0, [this, finished = std::move(finished)] {
        open_ = false;
        consoleBezel_->setRightCornersFlat(false);
        bezel_->hide();
        consoleBezel_->parentWidget()->setGeometry(0, 0, static_cast<int>(consoleW), static_cast<int>(consoleH));
        if (finished) finished();
    });
}

QParallelAnimationGroup* DrawerShell::slide() const { return slide_; }

void DrawerShell::startSlide(double windowWidth, int milliseconds, double opacity, std::function<void()> finished)
{
    if (slide_) {
        QObject::disconnect(slideEnd_);  // its end is no longer ours to reach
        slide_->stop();
    }
    // Read now: the user may have moved the window since the last slide.
    const QRect from = window_->geometry();
    const QRect to(from.x(), from.y(), static_cast<int>(windowWidth), from.height());

    fadeOnlyWhileSeeThrough(*fade_);  // a close starts fully opaque
    auto* group = new QParallelAnimationGroup(window_);
    auto* frame = new QPropertyAnimation(window_, "geometry", group);
    frame->setStartValue(from);
    frame->setEndValue(to);
    auto* fade = new QPropertyAnimation(fade_, "opacity", group);
    fade->setStartValue(fade_->opacity());
    fade->setEndValue(opacity);
    for (QPropertyAnimation* animation : {frame, fade}) {
        animation->setDuration(milliseconds);
        animation->setEasingCurve(easeInEaseOut());
    }
    slideEnd_ = QObject::connect(group, &QAbstractAnimation::finished, group,
                                 [finished = std::move(finished)] { finished(); });
    slide_ = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace ondaline::app
