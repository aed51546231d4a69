// The side drawer: its frame right of the console, the four requests that
// open, close and switch it, and the slide that widens the window to show
// it while its face fades in.

#include "app/app_delegate.h"

#include "base/activity_log.h"
#include "ui/console/console_bezel_view.h"
#include "ui/console/dark_palette.h"
#include "ui/console/drawer_bezel_view.h"
#include "ui/console/drawer_face_view.h"
#include "ui/console/keyable_borderless_window.h"

#include <QEasingCurve>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QParallelAnimationGroup>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QTimer>

namespace ondaline::app {

namespace {

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

void TestAppDelegate::buildDrawerShell()
{
    ui::ConsoleBezelView* bezelView = dashboard_.bezelView();
    QWidget* content = bezelView ? bezelView->parentWidget() : nullptr;
    if (!content) return;

    drawerBezelView = new ui::DrawerBezelView(content);
    drawerBezelView->setFrame({dashW, 0, drawerW, dashH});
    drawerBezelView->hide();

    drawerFaceView = new ui::DrawerFaceView(drawerBezelView);
    drawerFaceView->setFrame({0, bezelPad, drawerW - bezelPad, dashH - 2 * bezelPad});
    drawerFaceView->setPalette(ui::darkControlsPalette(QColor(50, 50, 52)));
    drawerFaceOpacity = new QGraphicsOpacityEffect(drawerFaceView);
    drawerFaceOpacity->setOpacity(0.0);
    drawerFaceView->setGraphicsEffect(drawerFaceOpacity);
    connect(drawerFaceOpacity, &QGraphicsOpacityEffect::opacityChanged, this,
            [this] { fadeOnlyWhileSeeThrough(*drawerFaceOpacity); });

    drawerScrollView = new QScrollArea(drawerFaceView);
    drawerScrollView->setGeometry(drawerFaceView->rect());
    drawerScrollView->setFrameShape(QFrame::NoFrame);
    drawerScrollView->setWidgetResizable(false);
    drawerScrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    drawerScrollView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    drawerScrollView->setAutoFillBackground(false);
    drawerScrollView->viewport()->setAutoFillBackground(false);

    drawerSaveDebounceTimer = new QTimer(this);
    drawerSaveDebounceTimer->setSingleShot(true);
    drawerSaveDebounceTimer->setTimerType(Qt::PreciseTimer);
    drawerSaveDebounceTimer->setInterval(5000);
    connect(drawerSaveDebounceTimer, &QTimer::timeout, this, [this] { autoSaveDrawerSettings(); });
}

void TestAppDelegate::toggleSettingsDrawer()
{
    if (!isDrawerOpen) {
        activeDrawer = DrawerPage::settings;
        openDrawer(DrawerPage::settings);
    } else if (activeDrawer == DrawerPage::settings) {
        closeDrawer();
    } else {
        switchDrawer(DrawerPage::settings);
    }
}

void TestAppDelegate::openAppearanceDrawer()
{
    if (!isDrawerOpen) {
        activeDrawer = DrawerPage::appearance;
        openDrawer(DrawerPage::appearance);
    } else if (activeDrawer == DrawerPage::settings) {
        switchDrawer(DrawerPage::appearance);
    }
}

void TestAppDelegate::backToSettingsDrawer()
{
    if (isDrawerOpen) switchDrawer(DrawerPage::settings);
}

void TestAppDelegate::openActivityDrawer()
{
    if (!isDrawerOpen) {
        activeDrawer = DrawerPage::activity;
        openDrawer(DrawerPage::activity);
    } else {
        switchDrawer(DrawerPage::activity);
    }
}

void TestAppDelegate::switchDrawer(DrawerPage page)
{
    closeDrawer([this, page] {
        activeDrawer = page;
        openDrawer(page);
    });
}

void TestAppDelegate::setDrawerPage(QWidget* page)
{
    if (!drawerScrollView) {
        delete page;
        return;
    }
    // The old page may hold the control whose signal got us here.
    if (QWidget* old = drawerScrollView->takeWidget()) old->deleteLater();
    drawerScrollView->setWidget(page);
    page->setAutoFillBackground(false);  // the face shows through
}

void TestAppDelegate::openDrawer(DrawerPage page)
{
    if (!window || !drawerBezelView) return;
    switch (page) {
    case DrawerPage::settings:
        setDrawerPage(buildSettingsDrawerContent());
        break;
    case DrawerPage::appearance:
        setDrawerPage(buildAppearanceDrawerContent());
        break;
    case DrawerPage::activity:
        setDrawerPage(buildActivityDrawerContent());
        break;
    }
    dashboard_.bezelView()->setRightCornersFlat(true);
    drawerBezelView->show();
    drawerFaceOpacity->setOpacity(0.0);
    if (QWidget* content = dashboard_.bezelView()->parentWidget())
        content->setGeometry(0, 0, static_cast<int>(dashW + drawerW), static_cast<int>(dashH));
    slideDrawer(dashW + drawerW, 400, 1.0, [this] {
        isDrawerOpen = true;
        // Fully shown, the face needs no effect, which would also hide the
        // effects of the views on it.
        drawerFaceOpacity->setEnabled(false);
    });
}

void TestAppDelegate::closeDrawer(std::function<void()> completion)
{
    if (drawerSaveDebounceTimer) drawerSaveDebounceTimer->stop();
    if (activeDrawer == DrawerPage::activity) {
        ActivityLog::shared().setOnNewEntry({});
        activityTextView = nullptr;
        activityScrollIndicator = nullptr;
        if (activityScrollIndicatorTimer) activityScrollIndicatorTimer->stop();
        activityScrollIndicatorTimer = nullptr;
    }
    autoSaveDrawerSettings();
    if (!window || !drawerBezelView) return;
    slideDrawer(dashW, 350, 0.0, [this, completion = std::move(completion)] {
        isDrawerOpen = false;
        dashboard_.bezelView()->setRightCornersFlat(false);
        drawerBezelView->hide();
        if (QWidget* content = dashboard_.bezelView()->parentWidget())
            content->setGeometry(0, 0, static_cast<int>(dashW), static_cast<int>(dashH));
        if (completion) completion();
    });
}

void TestAppDelegate::slideDrawer(double width, int milliseconds, double opacity, std::function<void()> finished)
{
    if (drawerSlide) {
        drawerSlide->disconnect(this);  // its end is no longer ours to reach
        drawerSlide->stop();
    }
    // Read now: the user may have moved the window since the last slide.
    const QRect from = window->geometry();
    const QRect to(from.x(), from.y(), static_cast<int>(width), from.height());

    fadeOnlyWhileSeeThrough(*drawerFaceOpacity);  // a close starts fully opaque
    auto* group = new QParallelAnimationGroup(this);
    auto* frame = new QPropertyAnimation(window.get(), "geometry", group);
    frame->setStartValue(from);
    frame->setEndValue(to);
    auto* fade = new QPropertyAnimation(drawerFaceOpacity, "opacity", group);
    fade->setStartValue(drawerFaceOpacity->opacity());
    fade->setEndValue(opacity);
    for (QPropertyAnimation* animation : {frame, fade}) {
        animation->setDuration(milliseconds);
        animation->setEasingCurve(easeInEaseOut());
    }
    connect(group, &QAbstractAnimation::finished, this, [this, finished = std::move(finished)] { finished(); });
    drawerSlide = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace ondaline::app
