#pragma once

// The dashboard's console: the bezel and face with the program's name, the
// VU meter, the status lamp, the station and now-playing lines, the connect
// and settings buttons, the status line and the help button. It draws and
// reports presses; what they mean is the controller's. Until build() there
// are no views, and each setter does nothing.

#include <QColor>
#include <QString>

#include <functional>
#include <string>

class QLabel;
class QPushButton;
class QTimer;
class QWidget;

namespace ondaline::ui {
class ConsoleBezelView;
class ConsoleButton;
class ConsoleFaceView;
class LEDIndicatorView;
class VUMeterView;
}  // namespace ondaline::ui

namespace ondaline::app {

class DashboardView {
public:
    static constexpr double width = 520;
    static constexpr double height = 640;
    static constexpr double bezelPad = 14;

    struct Actions {
        std::function<void()> connect;   // the gold button
        std::function<void()> settings;  // "⚙ Settings"
        std::function<void()> help;      // "?"
    };

    // The views go into `content`, which owns them; `stationName` is shown
    // at once.
    void build(QWidget& content, Actions actions, const std::string& stationName);

    // Shown in capitals; the record keeps the name as typed.
    void setStationName(const std::string& name);
    void setNowPlaying(const QString& text);
    // The status line, fitted to its width: an application's `name` that
    // `text` holds in quotes is shortened first (see dashboard_view.cpp).
    void showStatus(const QString& text, const QColor& color, const QString& name = {});
    void setStatusText(const QString& text, const QString& name = {});  // the colour stays
    QColor statusColor() const;
    void setLampLit(bool lit);
    void showConnectButton(const QString& title, bool gold, bool green);
    // RMS levels (1.0 = full scale) for the needles to move to. Without a
    // new one for levelsLapseMs the needles fall to rest.
    static constexpr int levelsLapseMs = 1000;
    void showLevels(float left, float right);

    ui::ConsoleBezelView* bezelView() const { return bezel_; }
    ui::ConsoleFaceView* faceView() const { return face_; }
    ui::LEDIndicatorView* ledView() const { return led_; }
    ui::VUMeterView* vuMeterView() const { return meter_; }
    QLabel* stationNameLabel() const { return stationName_; }
    QLabel* nowPlayingLabel() const { return nowPlaying_; }
    QLabel* statusLabel() const { return status_; }
    ui::ConsoleButton* connectButton() const { return connect_; }
    ui::ConsoleButton* settingsButton() const { return settings_; }
    QPushButton* helpButton() const { return help_; }

private:
    // Owned by the content widget.
    ui::ConsoleBezelView* bezel_ = nullptr;
    ui::ConsoleFaceView* face_ = nullptr;
    ui::LEDIndicatorView* led_ = nullptr;
    ui::VUMeterView* meter_ = nullptr;
    QLabel* stationName_ = nullptr;
    QLabel* nowPlaying_ = nullptr;
    QLabel* status_ = nullptr;
    ui::ConsoleButton* connect_ = nullptr;
    ui::ConsoleButton* settings_ = nullptr;
    QPushButton* help_ = nullptr;
    QTimer* levelsLapse_ = nullptr;
};

}  // namespace ondaline::app
