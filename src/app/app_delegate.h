#pragma once

// The program's one controller: it owns the engine, the audio sources, the
// settings record and the dashboard's views, and turns the user's presses
// and the engine's reports into what the dashboard shows. Its operations
// live in files named after their concerns (app_delegate_*.cpp).

#include "engine/engine_types.h"
#include "models/image_schedule_config.h"
#include "platform/clock.h"
#include "platform/dispatch/main_executor.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <string>

class QLabel;
class QPushButton;
class QTimer;
class QWidget;

namespace ondaline {
class Ondaline;
class OndalineDelegate;
namespace sources {
class AudioSourceCapture;
class SpectrumAnalyzer;
class TCPAudioServer;
class TestPlayer;
}  // namespace sources
namespace ui {
class ConsoleBezelView;
class ConsoleButton;
class ConsoleFaceView;
class KeyableBorderlessWindow;
class LEDIndicatorView;
class VUMeterView;
}  // namespace ui
}  // namespace ondaline

namespace ondaline::app {

inline constexpr const char* kOndalineVersion = "1.1.4";

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

    // After the event loop has started: builds the dashboard and becomes the
    // engine's delegate (app_delegate_startup.cpp).
    void applicationDidFinishLaunching();

    // --- dashboard window (app_delegate_dashboard.cpp) ---
    void buildDashboard();
    QLabel* makeFaceLabel(const QString& text, double size, QFont::Weight weight, const QColor& color);
    void updateStationNameLabel();

    // --- streaming control and status (app_delegate_streaming.cpp) ---
    void toggleConnect();
    void setConnectedUI();
    void setDisconnectedUI();

    // --- engine events (app_delegate_engine_events.cpp), on the main thread ---
    void engineDidConnect();
    void engineDidDisconnect();
    void engineDidChangeState(StreamState state);
    void engineDidEncounterError(const std::string& message);

    // --- actions of later parts of the dashboard; nothing yet ---
    void toggleSettingsDrawer() {}
    void openOndalineHelp() {}

    // State, read and written by the controller's operations (and its
    // tests). Views are owned by the window, which this object owns; they
    // are null before buildDashboard().
    std::unique_ptr<ui::KeyableBorderlessWindow> window;
    std::shared_ptr<sources::TestPlayer> player;
    std::shared_ptr<Ondaline> streamer;
    std::shared_ptr<sources::TCPAudioServer> tcpServer;
    std::shared_ptr<sources::AudioSourceCapture> appCapture;  // present while application capture runs
    std::unique_ptr<sources::SpectrumAnalyzer> appCaptureSpectrum;
    ui::ConsoleBezelView* bezelView = nullptr;
    ui::ConsoleFaceView* faceView = nullptr;
    ui::LEDIndicatorView* ledView = nullptr;
    ui::VUMeterView* vuMeterView = nullptr;
    QLabel* stationNameLabel = nullptr;
    QLabel* nowPlayingLabel = nullptr;
    QLabel* statusLabel = nullptr;
    ui::ConsoleButton* connectButton = nullptr;
    ui::ConsoleButton* settingsButton = nullptr;
    QPushButton* helpButton = nullptr;
    bool isDrawerOpen = false;
    std::string activeDrawer = "settings";
    static constexpr double dashW = 520;
    static constexpr double dashH = 640;
    static constexpr double drawerW = 360;
    static constexpr double bezelPad = 14;
    ImageScheduleConfig scheduleConfig;
    std::string lastSongText;
    std::string activeAudioSource = "local";
    std::optional<double> connectTime;  // on the uptime clock; none while idle
    QTimer* uptimeTimer = nullptr;      // a child of this object while live
    // The last failure the engine reported: the idle look shows it in place
    // of the source's text until the next press, the live look or a newer
    // status text of the source.
    std::optional<QString> lastErrorText;
    double lastAutoSaveTime = 0;

private:
    void stopUptimeClock();

    // The engine's delegate: each report becomes one main-thread item that
    // holds this controller by QPointer (app_delegate_engine_events.cpp).
    static std::shared_ptr<OndalineDelegate> makeEngineEvents(TestAppDelegate& controller,
                                                              std::shared_ptr<platform::MainExecutor> mainExecutor);

    std::shared_ptr<platform::MainExecutor> mainExecutor_;
    std::shared_ptr<const platform::Clock> clock_;
    std::shared_ptr<OndalineDelegate> engineEvents_;  // the engine holds it weakly
};

}  // namespace ondaline::app
