#include "app/app_delegate.h"

#include "app/help_window.h"

#include "engine/ondaline.h"
#include "engine/ondaline_delegate.h"
#include "models/station_path.h"
#include "sources/audio_source_capture.h"
#include "sources/spectrum_analyzer.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"
#include "ui/console/console_paint.h"
#include "ui/console/keyable_borderless_window.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QMenu>
#include <QTimer>

namespace ondaline::app {

TestAppDelegate::TestAppDelegate(std::shared_ptr<platform::MainExecutor> mainExecutor,
                                 std::shared_ptr<const platform::Clock> clock)
    : player(sources::TestPlayer::create(mainExecutor)), streamer(Ondaline::create(mainExecutor)),
      tcpServer(sources::TCPAudioServer::create(mainExecutor, 9170)),
      appCaptureSpectrum(std::make_unique<sources::SpectrumAnalyzer>(40, 44100.0f)), helpURL(helpPageURL()),
      mainExecutor_(std::move(mainExecutor)),
      clock_(clock ? std::move(clock) : std::make_shared<platform::SystemClock>())
{
    SettingsLoad loaded = ImageScheduleConfig::loadReporting();
    scheduleConfig = std::move(loaded.config);
    settingsLoadFile_ = std::move(loaded.file);
    settingsLoadProblem_ = std::move(loaded.problem);
    settingsLoadScheduleOnly_ = loaded.scheduleOnly;
}

TestAppDelegate::~TestAppDelegate()
{
    // An autosave still due when the program quits keeps what the page shows.
    if (pendingAutoSave && pendingAutoSave->isActive()) {
        readOpenDrawer();
        saveSettings();
    }
    // Quitting while live ends the stream in order rather than dropping the
    // connection; nothing is reported any more.
    streamer->setDelegate({});
    streamer->disconnect();
    tcpServer->stop();
}

std::string TestAppDelegate::musicPath() { return StationPath::load() + "/Music"; }

QColor TestAppDelegate::goldColor(double alpha) { return ui::rgba(0.78, 0.59, 0.18, alpha); }

}  // namespace ondaline::app
