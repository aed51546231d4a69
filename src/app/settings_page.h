#pragma once

// The drawer's settings page: one column of labels, fields, pop-ups and
// dividers, filled from the settings record as it is at the build and read
// back into it by the autosave. Its controls belong to the newest page
// built; what a choice means is the controller's, reached through Actions.

#include "app/settings_choices.h"
#include "models/image_schedule_config.h"
#include "platform/audio/output_devices.h"
#include "platform/dispatch/main_executor.h"
#include "sources/application_choice.h"
#include "sources/audio_source_capture.h"
#include "ui/console/console_button.h"

#include <QComboBox>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace ondaline::app {

class SettingsPage : public QObject {
public:
    // Stepping through the application picker with its list closed (arrow
    // keys, letters, the wheel) picks the item stepped to once the user
    // has stopped for this long, or left the picker; the items passed over
    // count for nothing. A pick from the open list counts at once.
    static constexpr std::chrono::milliseconds pickerSettle{1000};

    struct Actions {
        std::function<void()> stationNameEntered;  // editing of the name ended
        std::function<void()> audioSourceChosen;
        // The application picked, as the picker's item stood for it.
        std::function<void(const sources::AudioSource& picked)> applicationChosen;
        std::function<void()> streamModeChosen;
        std::function<void()> outputDeviceChosen;
        std::function<void()> browse;                     // "Browse" for the station folder
        std::function<void(QObject* field)> fieldEdited;  // typing in a field the autosave reads
        std::function<void()> openAppearance;
        std::function<void()> openActivity;
        // The record's application, with the process captured if known.
        std::function<sources::ApplicationChoice()> savedApplication;
        // It is only offered: captured once picked. Its items say so.
        std::function<bool()> savedApplicationOffered;
    };

    SettingsPage(std::shared_ptr<platform::MainExecutor> mainExecutor, Actions actions);
    ~SettingsPage() override;

    // A new page, owned by the caller; the controls of the one before are
    // let go. `devices` are the output pop-up's items after the default;
    // `savedOutputName` names the saved device while it is not among them.
    QWidget* build(const ImageScheduleConfig& stored, const std::vector<platform::OutputDevice>& devices,
                   const std::string& savedOutputName);
    // What the page shows, into the record (and the station folder's
    // pointer file). Fields no longer on a page count for nothing.
    void read(ImageScheduleConfig& into) const;

    // The choices, as the page shows them; none without a page.
    std::optional<std::string> stationName() const;
    std::optional<AudioSourceKind> audioSource() const;
    std::optional<StreamMode> streamMode() const;
    std::optional<sources::AudioSource> application() const;  // none until one is picked
    // The picked output's uid, "" for the server's default.
    std::optional<std::string> outputDevice() const;

    // Lists the applications off the main thread; the picker current when
    // the list is ready is refilled, the saved application (as the record
    // names it then) chosen if listed. From then on the list follows the
    // applications as they come and go, until stopFollowingApplications().
    void refreshAppList();
    void stopFollowingApplications();
    // The output pop-up refilled, without counting as a choice; the saved
    // device stays chosen, also while it is not there.
    void showOutputDevices(const std::vector<platform::OutputDevice>& devices, const std::string& savedUID,
                           const std::string& savedName);
    void showStationPath(const QString& folder);
    // The server a service with a fixed one really uses, as the record
    // names it now.
    void showServer(const std::string& serverURL);
    // One of the newest page's fields that the autosave reads.
    bool isWatchedField(const QObject* field) const;

    // The controls, while the page that holds them lives.
    QLineEdit* drStationNameField() const { return stationName_; }
    QComboBox* drAudioSourcePopup() const { return audioSource_; }
    QWidget* drAppPickerContainer() const { return appPickerContainer_; }
    QComboBox* drAppPickerPopup() const { return appPicker_; }
    QComboBox* drStreamModePopup() const { return streamMode_; }
    QLineEdit* drServerURLField() const { return serverURL_; }
    QLineEdit* drStreamKeyField() const { return streamKey_; }
    QLineEdit* drIcecastHostField() const { return icecastHost_; }
    QLineEdit* drIcecastPortField() const { return icecastPort_; }
    QLineEdit* drIcecastMountField() const { return icecastMount_; }
    QLineEdit* drIcecastPasswordField() const { return icecastPassword_; }
    QComboBox* drBitratePopup() const { return bitrate_; }
    QLineEdit* drStationPathField() const { return stationPath_; }
    QComboBox* drAudioOutputPopup() const { return audioOutput_; }
    ui::ConsoleButton* drAppearanceButton() const { return appearanceButton_; }
    // Item i + 1 of the application picker.
    const std::vector<sources::AudioSource>& drAppSources() const { return appSources_; }

private:
    struct AppListing;  // the worker that lists applications
    // The application picker's (settings_page_picker.cpp).
    bool eventFilter(QObject* watched, QEvent* event) override;
    void applicationActivated();
    void takeSteppedPick();
    // A listing's outcome, into the newest page's picker.
    void showAppList(const std::vector<sources::AudioSource>& found, bool failed);
    // The items of an application only offered marked so, the others not.
    void markOfferedItems();
    void fillOutputPopup(const std::vector<platform::OutputDevice>& devices, const std::string& savedUID,
                         const std::string& savedName);

    const std::shared_ptr<platform::MainExecutor> mainExecutor_;
    const Actions actions_;
    QPointer<QLineEdit> stationName_;
    QPointer<QComboBox> audioSource_;
    QPointer<QWidget> appPickerContainer_;
    QPointer<QComboBox> appPicker_;
    // The picker as its events name it, even while it is being destroyed,
    // when it is no longer a QComboBox to look at through appPicker_.
    const QObject* appPickerEvents_ = nullptr;
    QPointer<QComboBox> streamMode_;
    QPointer<QLineEdit> serverURL_;
    QPointer<QLabel> serverHint_;  // YouTube's and Facebook's
    QPointer<QLineEdit> streamKey_;
    QPointer<QLineEdit> icecastHost_;
    QPointer<QLineEdit> icecastPort_;
    QPointer<QLineEdit> icecastMount_;
    QPointer<QLineEdit> icecastPassword_;
    QPointer<QComboBox> bitrate_;
    QPointer<QLineEdit> stationPath_;
    QPointer<QComboBox> audioOutput_;
    QPointer<ui::ConsoleButton> appearanceButton_;
    std::vector<sources::AudioSource> appSources_;
    QPointer<QComboBox> filledPicker_;  // the picker appSources_ fills
    bool appListFailed_ = false;
    std::vector<std::string> outputUIDs_;  // of each item of the output pop-up
    std::unique_ptr<AppListing> appListing_;
    bool stepping_ = false;  // the picker's item changes by a step
    // The item stepped to, held past its page; picked when the timer fires.
    std::optional<sources::AudioSource> steppedPick_;
    QTimer pickerSettleTimer_;
};

}  // namespace ondaline::app
