// The side drawer's requests: the four that open, close and switch it, and
// the page each one builds.

#include "app/app_delegate.h"

#include "app/activity_page.h"
#include "app/appearance_page.h"

#include "ui/console/keyable_borderless_window.h"

#include <QLabel>
#include <QTimer>

namespace ondaline::app {

void TestAppDelegate::buildDrawerShell()
{
    ui::ConsoleBezelView* bezel = dashboard_.bezelView();
    if (!window || !bezel) return;
    drawer_.build(*window, *bezel);

    drawerSaveDebounceTimer = new QTimer(this);
    drawerSaveDebounceTimer->setSingleShot(true);
    drawerSaveDebounceTimer->setTimerType(Qt::PreciseTimer);
    drawerSaveDebounceTimer->setInterval(5000);
    connect(drawerSaveDebounceTimer, &QTimer::timeout, this, [this] { autoSaveDrawerSettings(); });
}

void TestAppDelegate::toggleSettingsDrawer()
{
    if (!drawer_.isOpen()) {
        activeDrawer_ = DrawerPage::settings;
        openDrawer(DrawerPage::settings);
    } else if (activeDrawer_ == DrawerPage::settings) {
        closeDrawer();
    } else {
        switchDrawer(DrawerPage::settings);
    }
}

void TestAppDelegate::openAppearanceDrawer()
{
    if (!drawer_.isOpen()) {
        activeDrawer_ = DrawerPage::appearance;
        openDrawer(DrawerPage::appearance);
    } else if (activeDrawer_ == DrawerPage::settings) {
        switchDrawer(DrawerPage::appearance);
    }
}

void TestAppDelegate::backToSettingsDrawer()
{
    if (drawer_.isOpen()) switchDrawer(DrawerPage::settings);
}

void TestAppDelegate::openActivityDrawer()
{
    if (!drawer_.isOpen()) {
        activeDrawer_ = DrawerPage::activity;
        openDrawer(DrawerPage::activity);
    } else {
        switchDrawer(DrawerPage::activity);
    }
}

void TestAppDelegate::switchDrawer(DrawerPage page)
{
    closeDrawer([this, page] {
        activeDrawer_ = page;
        openDrawer(page);
    });
}

void TestAppDelegate::setDrawerPage(QWidget* page) { drawer_.setPage(page); }

void TestAppDelegate::openDrawer(DrawerPage page)
{
    if (!window || !drawer_.isBuilt()) return;
    switch (page) {
    case DrawerPage::settings:
        setDrawerPage(buildSettingsDrawerContent());
        break;
    case DrawerPage::appearance:
        setDrawerPage(appearancePage_->build(scheduleConfig, drawerW - bezelPad));
        break;
    case DrawerPage::activity:
        setDrawerPage(activityPage_->build({drawerW - bezelPad, dashH - 28}));
        break;
    }
    drawer_.open();
}

void TestAppDelegate::closeDrawer(std::function<void()> completion)
{
    if (drawerSaveDebounceTimer) drawerSaveDebounceTimer->stop();
    if (activeDrawer_ == DrawerPage::activity) activityPage_->close();
    settingsPage_->stopFollowingApplications();
    autoSaveDrawerSettings();
    if (!window) return;
    drawer_.close(std::move(completion));
}

}  // namespace ondaline::app
