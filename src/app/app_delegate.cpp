#include "app/app_delegate.h"

#include "app/activity_page.h"
#include "app/appearance_page.h"
#include "app/gold_color.h"
#include "app/help_window.h"

#include "engine/ondaline.h"
#include "engine/ondaline_delegate.h"
#include "models/station_path.h"
#include "sources/audio_source_capture.h"
#include "sources/spectrum_analyzer.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"
#include "ui/console/keyable_borderless_window.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTimer>

#include <unistd.h>

namespace ondaline::app {

TestAppDelegate::TestAppDelegate(std::shared_ptr<platform::MainExecutor> mainExecutor,
                                 std::shared_ptr<const platform::Clock> clock)
    : player(sources::TestPlayer::create(mainExecutor)), streamer(Ondaline::create(mainExecutor)),
      tcpServer(sources::TCPAudioServer::create(mainExecutor, 9170)), helpURL(helpPageURL()),
      helpWithoutWebEngine(::geteuid() == 0),
      sources_(mainExecutor, {player, tcpServer, streamer},
               {.source = [this](bool lampLit, const QString& text,
                                 double alpha) { showSourceLook(lampLit, text, alpha); },
                .statusText = [this](const QString& text) { dashboard_.setStatusText(text); },
                .levels = [this](float left, float right) { showSourceLevels(left, right); },
                .outputDevice = [this](const std::string& uid) { applyAudioOutputDevice(uid); },
                .titleLeft = [this] { schedulers_.sourceDidChange(); }}),
      schedulers_({.settings = scheduleConfig,
                   .engine = streamer,
                   .player = player,
                   .activeSource = [this] { return sources_.active(); },
                   .showNowPlaying = [this](const QString& text) { dashboard_.setNowPlaying(text); }}),
      settingsPage_(std::make_unique<SettingsPage>(
          mainExecutor,
          SettingsPage::Actions{
              .stationNameEntered = [this] { drStationNameEntered(); },
              .audioSourceChosen = [this] { drAudioSourceChanged(); },
              .applicationChosen = [this](const sources::AudioSource& picked) { drAppPickerChanged(picked); },
              .streamModeChosen = [this] { drStreamModeChanged(); },
              .outputDeviceChosen = [this] { drAudioOutputChanged(); },
              .browse = [this] { drBrowseStationPath(); },
              .fieldEdited = [this](QObject* field) { drawerTextFieldDidChange(field); },
              .openAppearance = [this] { openAppearanceDrawer(); },
              .openActivity = [this] { openActivityDrawer(); },
              .savedApplication =
                  [this] {
                      return sources::ApplicationChoice{scheduleConfig.appCaptureBundleID,
                                                        scheduleConfig.appCaptureName, sources_.appCaptureProcess()};
                  },
              .savedApplicationOffered = [this] { return isSavedApplicationOffered(); }})),
      mainExecutor_(std::move(mainExecutor)),
      clock_(clock ? std::move(clock) : std::make_shared<platform::SystemClock>()),
      appearancePage_(std::make_unique<AppearancePage>(AppearancePage::Actions{
          .backToSettings = [this] { backToSettingsDrawer(); },
          .editOverlayLayout = [this] { openOverlayEditor(editor::EditorTab::nowPlaying); },
          .editSchedule = [this] { openOverlayEditor(editor::EditorTab::images); },
          .fontChosen = [this] { drNPFontChosen(); },
      })),
      activityPage_(std::make_unique<ActivityPage>([this] { backToSettingsDrawer(); },
                                                   [this] { return activeDrawer_ == DrawerPage::activity; }))
{
    SettingsLoad loaded = ImageScheduleConfig::loadReporting();
    scheduleConfig = std::move(loaded.config);
    settingsLoadFile_ = std::move(loaded.file);
    settingsLoadProblem_ = std::move(loaded.problem);
    settingsLoadScheduleOnly_ = loaded.scheduleOnly;
    settingsLoadKeptCopy_ = std::move(loaded.keptAsideCopy);
    // Anyone who may write there may have made it: whose it is goes with it.
    if (!loaded.keptAsideCopyOwner.empty()) settingsLoadKeptCopy_ += ", which belongs to " + loaded.keptAsideCopyOwner;
    settingsLoadLeftovers_ = std::move(loaded.removedLeftovers);
    settingsLoadSaveRefused_ = std::move(loaded.saveRefused);
    settingsLoadLinkNotFollowed_ = std::move(loaded.linkNotFollowed);
    // A bitrate the drawer does not offer (a hand-edited file) would run the
    // encoder at whatever it says: the one the drawer shows for it is used,
    // and written at the next save.
    if (const std::int64_t offered = bitrateAt(bitrateIndex(scheduleConfig.audioBitrate));
        offered != scheduleConfig.audioBitrate) {
        settingsLoadRefusedBitrate_ = scheduleConfig.audioBitrate;
        scheduleConfig.audioBitrate = offered;
    }
    storedSettings_ = scheduleConfig;
    // Every way of quitting (the menu, its keys, the last window closed, a
    // signal) ends the event loop, and this runs first.
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, [this] { saveBeforeQuit(); });
}

TestAppDelegate::~TestAppDelegate()
{
    // An autosave still due when the program quits keeps what the page shows.
    if (pendingAutoSave_ && pendingAutoSave_->isActive()) {
        readOpenDrawer();
        saveSettings();
    }
    // Quitting while live ends the stream in order rather than dropping the
    // connection; nothing is reported any more.
    streamer->setDelegate({});
    streamer->disconnect();
    tcpServer->stop();
}

void TestAppDelegate::buildDashboard()
{
    window = std::make_unique<ui::KeyableBorderlessWindow>(Qt::FramelessWindowHint);
    window->resize(static_cast<int>(dashW), static_cast<int>(dashH));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QPoint centre = screen->availableGeometry().center();
        window->move(centre - QPoint(static_cast<int>(dashW) / 2, static_cast<int>(dashH) / 2));
    }

    auto* content = new QWidget(window.get());
    content->setGeometry(0, 0, static_cast<int>(dashW), static_cast<int>(dashH));
    dashboard_.build(*content,
                     {.connect = [this] { toggleConnect(); },
                      .settings = [this] { toggleSettingsDrawer(); },
                      .help = [this] { openOndalineHelp(); }},
                     scheduleConfig.stationName);
    buildDrawerShell();

    window->show();
    window->activateWindow();
}

void TestAppDelegate::updateStationNameLabel() { dashboard_.setStationName(scheduleConfig.stationName); }

void TestAppDelegate::showSourceLook(bool lampLit, const QString& text, double alpha)
{
    // While live the lamp and the line are the stream's; the line says what
    // is amiss with the source.
    if (isUptimeClockRunning()) {
        showLiveStatus();
        return;
    }
    dashboard_.setLampLit(lampLit);
    if (isSettingsNoticeShowing()) return;
    lastErrorText.reset();  // the source's newer word replaces a failure shown
    dashboard_.showStatus(text, ui::white(1.0, alpha));
}

std::string TestAppDelegate::musicPath() { return StationPath::musicFolder(); }

QColor TestAppDelegate::goldColor(double alpha) { return app::goldColor(alpha); }

}  // namespace ondaline::app
