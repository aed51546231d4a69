#pragma once

// The program's coordinator: it owns the engine, the audio sources and the
// settings record, and wires them to the concerns that own their widgets
// and state (the dashboard view, the drawer and its three pages, the source
// switcher, the schedulers). It turns the user's presses and the engine's
// reports into what those show; its own operations live in
// app_delegate_*.cpp, named for what they coordinate.

#include "app/dashboard_view.h"
#include "app/drawer_shell.h"
#include "app/schedulers.h"
#include "app/settings_choices.h"
#include "app/settings_page.h"
#include "app/source_callbacks.h"
#include "app/source_switcher.h"
#include "base/engine_types.h"
#include "models/image_schedule_config.h"
#include "platform/audio/audio_output.h"
#include "platform/audio/output_devices.h"
#include "platform/clock.h"
#include "platform/dispatch/main_executor.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMenu;
class QTimer;
class QWidget;

namespace ondaline {
class Ondaline;
class OndalineDelegate;
namespace sources {
class AudioSourceCapture;
class TCPAudioServer;
class TestPlayer;
}  // namespace sources
namespace ui {
class KeyableBorderlessWindow;
}  // namespace ui
namespace editor {
class OverlayEditorController;
enum class EditorTab;
}  // namespace editor
}  // namespace ondaline

namespace ondaline::app {

class ActivityPage;
class AppearancePage;
class HelpWindow;

inline constexpr const char* kOndalineVersion = "1.1.4";

// The pages the side drawer shows.
enum class DrawerPage { settings, appearance, activity };

class TestAppDelegate : public QObject {
    Q_OBJECT
public:
    // `clock` times the uptime shown while live (the system clock when none).
    explicit TestAppDelegate(std::shared_ptr<platform::MainExecutor> mainExecutor,
                             std::shared_ptr<const platform::Clock> clock = nullptr);
    ~TestAppDelegate() override;

    TestAppDelegate(const TestAppDelegate&) = delete;
    TestAppDelegate& operator=(const TestAppDelegate&) = delete;

    // The station folder's "/Music", read afresh each time.
    static std::string musicPath();
    // The dashboard's gold accent.
    static QColor goldColor(double alpha = 1.0);

    // --- start-up and the source callbacks (app_delegate_startup.cpp) ---
    // After the event loop has started.
    void applicationDidFinishLaunching();
    // The sources' reports, on the main thread: the callbacks installed at
    // start-up copy their arguments and post these.
    void tcpStatusDidChange(const std::string& status);
    void showSourceLevels(float left, float right);
    void playerLevelsDidChange(float left, float right);
    void playerTrackDidChange(const std::string& fileName);

    // --- audio source switching (source_switcher.h), by the record ---
    void activateAudioSource(AudioSourceKind source)
    {
        if (source == AudioSourceKind::appCapture) return activateAppCaptureMode();
        sources_.activate(source, scheduleConfig.audioOutputDeviceUID, scheduleConfig.appCaptureBundleID,
                          scheduleConfig.appCaptureName);
    }
    void activateLocalPlayerMode() { sources_.activateLocalPlayer(scheduleConfig.audioOutputDeviceUID); }
    void activateTCPInputMode() { sources_.activateTCPInput(); }
    // With `pid`, the one process picked of the saved binary and name. An
    // application only offered (savedApplicationOffered()) is told, not
    // captured.
    void activateAppCaptureMode(std::int32_t pid = 0)
    {
        if (isSavedApplicationOffered())
            sources_.offerAppCapture(scheduleConfig.appCaptureBundleID, scheduleConfig.appCaptureName);
        else sources_.activateAppCapture(scheduleConfig.appCaptureBundleID, scheduleConfig.appCaptureName, pid);
    }
    // The saved application was chosen in settings others may change, and
    // not picked here since the start.
    bool isSavedApplicationOffered() const { return savedApplicationOffered(scheduleConfig, applicationPicked_); }
    void stopAppCapture() { sources_.stopAppCapture(); }
    AudioSourceKind activeAudioSource() const { return sources_.active(); }
    const std::shared_ptr<sources::AudioSourceCapture>& appCapture() const { return sources_.appCapture(); }
    SourceSwitcher& sourceSwitcher() { return sources_; }

    // --- audio output device (app_delegate_output_device.cpp) ---
    // The sound server's devices with output channels; empty when it
    // cannot be reached.
    std::vector<platform::OutputDevice> enumerateAudioOutputDevices();
    // Points the player's output at the device with this uid ("" = the
    // server's default), now and whenever it opens its stream again; while
    // that device is missing the default plays, and the choice stays.
    void applyAudioOutputDevice(const std::string& uid);
    // From now on each device added or removed refreshes the popup.
    void installAudioDeviceChangeListener();
    void refreshAudioOutputPopup();
    // The popup's action: saves the chosen device and applies it.
    void drAudioOutputChanged();
    // The player's stream on the sound server lost, or playing again.
    void playerSoundServerDidChange(bool playing);

    // --- image and song schedulers (schedulers.h) ---
    void startScheduler() { schedulers_.start(); }
    bool pollSongFile(bool resend = false) { return schedulers_.pollSongFile(resend); }
    void applyScheduledImage() { schedulers_.applyScheduledImage(); }
    void sendNowPlayingOnAir() { schedulers_.sendNowPlayingOnAir(); }
    Schedulers& schedulers() { return schedulers_; }

    // --- dashboard window (app_delegate.cpp) ---
    void buildDashboard();
    void updateStationNameLabel();
    // The console's views: null before buildDashboard().
    DashboardView& dashboard() { return dashboard_; }
    const DashboardView& dashboard() const { return dashboard_; }

    // --- streaming control and status (app_delegate_streaming.cpp) ---
    void toggleConnect();
    // The overlays of `settings` (now-playing text, bars, crawler and its
    // file) to the engine, which draws them from the next frame on.
    void sendOverlaysToEngine(const ImageScheduleConfig& settings);
    void setConnectedUI();
    void setDisconnectedUI();

    // --- engine events (app_delegate_engine_events.cpp), on the main thread ---
    void engineDidConnect();
    void engineDidDisconnect();
    void engineDidChangeState(StreamState state);
    void engineDidEncounterError(const std::string& message, NoticeKind kind);

    // --- the side drawer (app_delegate_drawer.cpp) ---
    // Built once with the dashboard; hidden beyond the closed window's edge.
    void buildDrawerShell();
    // The requests of the buttons and the menu. Each is decided on the state
    // before a slide under way, which it takes over from where it is.
    void toggleSettingsDrawer();
    void openAppearanceDrawer();
    void backToSettingsDrawer();
    void openActivityDrawer();
    // Builds the page for `type` and slides the drawer out (0.4 s).
    void openDrawer(DrawerPage page);
    // Autosaves, slides the drawer in (0.35 s), then runs `completion`.
    void closeDrawer(std::function<void()> completion = {});
    bool isDrawerOpen() const { return drawer_.isOpen(); }     // changes only when a slide ends
    DrawerPage activeDrawer() const { return activeDrawer_; }  // the page last asked for
    DrawerShell& drawer() { return drawer_; }
    const DrawerShell& drawer() const { return drawer_; }

    // --- the drawer's pages ---
    QWidget* buildSettingsDrawerContent();  // the settings page, from the record
    SettingsPage& settingsPage() { return *settingsPage_; }
    const SettingsPage& settingsPage() const { return *settingsPage_; }
    AppearancePage& appearancePage() { return *appearancePage_; }
    // The log's page; the space bar toggles its auto-scroll while it is open.
    ActivityPage& activityPage() { return *activityPage_; }
    // Both editor buttons of the appearance page: the one editor on `tab`,
    // started from the current record, or brought to the front as it is
    // when it is on screen (app_delegate_overlay_editor.cpp).
    void openOverlayEditor(editor::EditorTab tab);
    // The editor's save: its overlay and schedule parts become the record's,
    // which is written, and reach the engine and the appearance page.
    void overlayEditorDidSave(const ImageScheduleConfig& edited);
    // A font or size chosen on the appearance page: the record's at once,
    // and the open editor's.
    void drNPFontChosen();

    // --- the settings page's actions (app_delegate_settings_actions.cpp) ---
    void drStationNameEntered();
    void drAudioSourceChanged();
    void drAppPickerChanged(const sources::AudioSource& picked);
    void drStreamModeChanged();
    void drBrowseStationPath();
    // Lists the applications off the main thread; the picker current when
    // the list is ready is refilled.
    void refreshDrawerAppList();
    // A watched field was typed in: the autosave follows 5 s after the last
    // keystroke.
    void drawerTextFieldDidChange(QObject* field);
    // Takes the open page into the settings, saves and applies them
    // (app_delegate_autosave.cpp). Runs at most once a second; a call
    // within that second takes the page at once and is followed by one
    // whole run when the second is over.
    void autoSaveDrawerSettings();
    // Before the program ends, by any way of quitting: what the open drawer
    // and the editor hold is taken into the record, which is written when
    // it differs from what was last written or loaded. Nothing is applied.
    void saveBeforeQuit();

    // --- the settings file (app_delegate_settings_file.cpp) ---
    // Saves the record; a save that was not written, or that kept an
    // earlier file aside, is logged and shown on the status line. True when
    // written.
    bool saveSettings();
    // The record differs from what was last loaded or written.
    bool hasUnsavedSettings() const { return !(scheduleConfig == storedSettings_); }
    bool reportSettingsSave(const SettingsSave& save);
    // An earlier file the save kept aside, logged and shown once.
    void reportKeptAside(const SettingsSave& save);
    void reportSecrets(const SettingsSave& save);
    // A settings notice holds the status line for ten seconds: the source's
    // and the live status wait for it.
    bool isSettingsNoticeShowing() const;

    // --- the menu and the help window (app_delegate_menu.cpp) ---
    // The menu's tree of actions, once: its keys work from every window the
    // menu is attached to, and the dashboard shows it on a right click.
    void setupMenuBar();
    void attachMenu(QWidget& topLevel);
    // Closes the drawer when one is open, else the dashboard window.
    void closeWindow();
    // Brings the help window forward, or builds one that loads the
    // documentation page.
    void openOndalineHelp();

    // What the coordinator wires together, and the state its operations
    // share. The window owns every view and is null before buildDashboard().
    std::unique_ptr<ui::KeyableBorderlessWindow> window;
    std::shared_ptr<sources::TestPlayer> player;
    std::shared_ptr<Ondaline> streamer;
    std::shared_ptr<sources::TCPAudioServer> tcpServer;
    static constexpr double dashW = DashboardView::width;
    static constexpr double dashH = DashboardView::height;
    static constexpr double drawerW = DrawerShell::width;
    static constexpr double bezelPad = DashboardView::bezelPad;
    ImageScheduleConfig scheduleConfig;
    // The last failure the engine reported: the idle look shows it in place
    // of the source's text until the next press, the live look or a newer
    // status text of the source.
    std::optional<QString> lastErrorText;
    // The station folder chosen by "Browse"; none when cancelled.
    std::function<std::optional<QString>(QWidget* parent, const QString& title)> pickFolder;
    // The overlay and schedule editor, made by its first opening.
    std::unique_ptr<editor::OverlayEditorController> overlayEditor;
    // State of the menu and the help window:
    std::unique_ptr<QMenu> mainMenu;         // its four submenus hold the actions
    std::unique_ptr<HelpWindow> helpWindow;  // the last one built
    QUrl helpURL;                            // the documentation page
    // As root, help is the program's own page, with the documentation's address:
    // the web engine would run as root without its sandbox.
    bool helpWithoutWebEngine;
    // The autosave 5 s after the last keystroke: single-shot, a child of
    // this object.
    QTimer* drawerSaveDebounceTimer = nullptr;
    // Whether the live status's uptime clock is running.
    bool isUptimeClockRunning() const { return uptimeTimer_ || connectTime_; }

private:
    std::optional<double> connectTime_;  // on the uptime clock; none while idle
    QTimer* uptimeTimer_ = nullptr;      // a child of this object while live
    std::string liveServiceName_;        // the live status line's figures
    std::int64_t liveKbps_ = 0;
    // The live status line as it stands now: the stream's figures, and what
    // the station should know beside them.
    void showLiveStatus();
    SourceSwitcher::Note liveStatusNote() const;
    // "Connecting to stream…" on the line, in place of whatever it said.
    void showConnecting();
    // State of the autosave: the start of the last run on the controller's
    // clock, and the run that follows calls inside its second.
    std::optional<double> lastAutoSaveTime_;
    QTimer* pendingAutoSave_ = nullptr;
    std::unique_ptr<platform::OutputDevices> audioDeviceWatcher_;  // the change listener's connection
    std::map<std::string, std::string> outputDeviceNames_;         // uid to name, of every device listed
    // None when no sound server answers.
    std::optional<std::vector<platform::OutputDevice>> listOutputDevices();
    // The name a device had when last listed; its uid if never.
    std::string outputDeviceName(const std::string& uid) const;
    // The player back on the chosen device, when it is among `devices` and
    // the player plays elsewhere.
    void followChosenOutputDevice(const std::vector<platform::OutputDevice>& devices);
    std::chrono::milliseconds deviceWatchRetry_ = platform::AudioOutput::reopenFirst;
    bool deviceWatchRetrying_ = false;
    bool watchAudioDevices();
    void retryWatchingAudioDevices();
    // A source's look on the lamp and the status line; a settings notice
    // keeps the line.
    void showSourceLook(bool lampLit, const QString& text, double alpha);
    void stopUptimeClock();
    // A file the program could not use at start, said once after the
    // dashboard is built.
    void reportUnusableFilesAtLaunch();
    // A secret Start would not send, said once at launch.
    void reportSecretsHeldBack();
    // A settings notice on the status line: kept while idle as a failure is,
    // and held for a while against the live status.
    void showSettingsNotice(const std::string& text);
    std::optional<double> settingsNoticeUntil_;
    ImageScheduleConfig storedSettings_;  // as last loaded or written
    std::string settingsLoadFile_;
    std::string settingsLoadProblem_;  // what of the settings file could not be used
    bool settingsLoadScheduleOnly_ = false;
    std::string settingsLoadKeptCopy_;  // no settings file, but this earlier one kept aside
    // Interrupted saves' files, removed; why a save may not replace the file.
    std::vector<platform::RemovedFile> settingsLoadLeftovers_;
    std::string settingsLoadSaveRefused_;
    std::string settingsLoadLinkNotFollowed_;                 // another user's link, which is the problem
    std::optional<std::int64_t> settingsLoadRefusedBitrate_;  // not offered, replaced
    SettingsSave secretsTold_;                                // what saves said of the secrets, as told
    bool applicationPicked_ = false;                          // in the application picker, since the start
    void switchDrawer(DrawerPage page);
    void setDrawerPage(QWidget* page);
    void readOpenDrawer();  // the autosave's reading of the open page

    // The engine's delegate: each report becomes one main-thread item that
    // holds this controller by QPointer (app_delegate_engine_events.cpp).
    static std::shared_ptr<OndalineDelegate> makeEngineEvents(TestAppDelegate& controller,
                                                              std::shared_ptr<platform::MainExecutor> mainExecutor);

    DashboardView dashboard_;
    DrawerShell drawer_;
    DrawerPage activeDrawer_ = DrawerPage::settings;
    SourceSwitcher sources_;
    Schedulers schedulers_;
    std::unique_ptr<SettingsPage> settingsPage_;  // its controls' signals go through it
    std::shared_ptr<platform::MainExecutor> mainExecutor_;
    std::shared_ptr<const platform::Clock> clock_;
    std::shared_ptr<OndalineDelegate> engineEvents_;  // the engine holds it weakly

    // The drawer's pages: one object each serves all their openings.
    const std::unique_ptr<AppearancePage> appearancePage_;
    const std::unique_ptr<ActivityPage> activityPage_;
};

}  // namespace ondaline::app
