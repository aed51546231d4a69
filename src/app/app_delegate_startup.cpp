// Start-up: from an empty process to a running dashboard, and what the
// sources' reports do to it.

#include "app/app_delegate.h"

#include "app/activity_page.h"
#include "app/source_callbacks.h"
#include "app/status_line.h"
#include "base/activity_log.h"
#include "base/print.h"
#include "engine/ondaline.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"
#include "ui/console/keyable_borderless_window.h"
#include "ui/console/led_indicator_view.h"
#include "ui/console/vu_meter_view.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QWindow>

namespace ondaline::app {

namespace {

// While the activity page is open the space bar toggles its auto-scroll and
// reaches no view of the dashboard. The filter sees a press once for each
// object it goes to (the window, then the focused widget and its parents):
// it acts on the dashboard window's own delivery only, so spaces typed in
// other windows pass. A child of the controller, so it ends with it.
class ActivityKeyMonitor final : public QObject {
public:
    explicit ActivityKeyMonitor(TestAppDelegate& controller) : QObject(&controller), controller_(controller) {}

    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress) return false;
        if (!controller_.window || receiver != controller_.window->windowHandle()) return false;
        if (!controller_.isDrawerOpen() || controller_.activeDrawer() != DrawerPage::activity) return false;
        if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Space) return false;  // modifiers do not matter
        controller_.activityPage().toggleActivityAutoScroll();
        return true;
    }

private:
    TestAppDelegate& controller_;
};

}  // namespace

void TestAppDelegate::applicationDidFinishLaunching()
{
    // The activity page follows the log's new lines on the main thread.
    ActivityLog::shared().setMainExecutor(mainExecutor_);
    print("Ondaline v1.0.80 launching");
    setupMenuBar();
    buildDashboard();
    attachMenu(*window);
    // Without a menu bar, the menu is a right click away on the console.
    window->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(window.get(), &QWidget::customContextMenuRequested, this,
            [this](QPoint at) { mainMenu->popup(window->mapToGlobal(at)); });
    engineEvents_ = makeEngineEvents(*this, mainExecutor_);
    streamer->setDelegate(engineEvents_);
    player->setStreamer(streamer);
    tcpServer->setStreamer(streamer);

    // The sources call these on their own threads: each copies what it was
    // given and hands it to the main thread, where the controller may be gone.
    const QPointer<TestAppDelegate> self(this);
    const std::shared_ptr<platform::MainExecutor> main = mainExecutor_;
    tcpServer->setOnStatusChange([self, main](const std::string& status) {
        main->post([self, status] {
            if (self) self->tcpStatusDidChange(status);
        });
    });
    tcpServer->setOnMeterUpdate([self, main, reports = sources_.tcpMeterReports()](float left, float right) {
        if (!reports->pass(left, right)) return;
        main->post([self, left, right] {
            if (self) self->showSourceLevels(left, right);
        });
    });

    // Said before the stream-key file's save below can keep that file aside.
    reportUnusableFilesAtLaunch();

    if (scheduleConfig.streamKey.empty()) {
        std::string unusable;
        const bool taken = scheduleConfig.takeStreamKeyFromFile(&unusable);
        if (!unusable.empty()) print("Ondaline: ⚠ Stream key file not used — " + unusable);
        if (taken) saveSettings();
    }
    reportSecretsHeldBack();

    player->setOnTrackChange([self, main](int, int, const std::string& fileName) {
        main->post([self, fileName] {
            if (self) self->playerTrackDidChange(fileName);
        });
    });
    player->setOnMeterUpdate([self, main, reports = sources_.playerMeterReports()](float left, float right) {
        if (!reports->pass(left, right)) return;
        main->post([self, left, right] {
            if (self) self->playerLevelsDidChange(left, right);
        });
    });

    player->engine().setServerListener([self, main](bool playing) {
        main->post([self, playing] {
            if (self) self->playerSoundServerDidChange(playing);
        });
    });
    // What keeping the player's sound on the device chosen had to do.
    player->engine().setDeviceListener([](const std::string& note) { print("Ondaline: Audio output: " + note); });

    // Before the player's first sound, and for every stream it opens later.
    player->engine().chooseDevice(scheduleConfig.audioOutputDeviceUID);
    activateAudioSource(audioSourceNamed(scheduleConfig.audioSource));

    if (const std::string uid = scheduleConfig.audioOutputDeviceUID; !uid.empty()) applyAudioOutputDevice(uid);
    installAudioDeviceChangeListener();

    if (QCoreApplication* application = QCoreApplication::instance())
        application->installEventFilter(new ActivityKeyMonitor(*this));

    // Only the local player's tap is known this early; the other sources'
    // formats are applied when a stream starts.
    if (const auto tap = player->tapFormat()) {
        streamer->updateConfig([&](Configuration& config) {
            config.sampleRate = tap->sampleRate;
            config.channels = tap->channelCount;
        });
    }

    if (window) {
        window->raise();
        window->activateWindow();
    }
    startScheduler();
}

void TestAppDelegate::tcpStatusDidChange(const std::string& status)
{
    // The stored source decides, not the running one; while live the status
    // line belongs to the stream.
    if (audioSourceNamed(scheduleConfig.audioSource) != AudioSourceKind::tcp) return;
    if (streamer->state() == StreamState::publishing) return;

    const TCPStatusLook look = tcpStatusLook(status);
    if (look.lampLit) dashboard_.setLampLit(*look.lampLit);
    if (isSettingsNoticeShowing()) return;
    lastErrorText.reset();  // a newer word of the source replaces a failure shown
    const QString text = QString::fromStdString(look.statusText);
    if (look.statusAlpha) dashboard_.showStatus(text, ui::white(1.0, *look.statusAlpha));
    else dashboard_.setStatusText(text);
}

void TestAppDelegate::showSourceLevels(float left, float right) { dashboard_.showLevels(left, right); }

void TestAppDelegate::playerLevelsDidChange(float left, float right)
{
    // A stopped player's tap goes on metering its silence: only the running
    // source moves the needles.
    if (activeAudioSource() != AudioSourceKind::local) return;
    showSourceLevels(left, right);
}

void TestAppDelegate::playerTrackDidChange(const std::string& fileName)
{
    const std::string name = trackName(fileName);
    dashboard_.setNowPlaying(QString::fromStdString(name));
    if (streamer->state() == StreamState::publishing) schedulers_.sendPlayerTrackOnAir(name);
}

}  // namespace ondaline::app
