// The settings page: one column of labels, fields, pop-ups and dividers,
// filled from the settings record as it is at the build. Which rows the
// stream section has follows the stored service; the application picker
// keeps its place even while hidden.

#include "app/app_delegate.h"
#include "app/drawer_column.h"
#include "app/drawer_controls.h"
#include "app/settings_choices.h"

#include "models/station_path.h"
#include "sources/audio_source_capture.h"
#include "ui/console/console_button.h"
#include "ui/console/console_paint.h"
#include "ui/console/flipped_view.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace ondaline::app {

namespace {

constexpr const char* kKickDashboard = "https://kick.com/dashboard/stream";
constexpr const char* kKickServerExample = "rtmps://xxxx.global-contribute.live-video.net/app";
constexpr const char* kIcecastHostExample = "radio.example.org";

QString text(const std::string& value) { return QString::fromStdString(value); }

}  // namespace

QWidget* TestAppDelegate::buildSettingsDrawerContent()
{
    const ImageScheduleConfig& stored = scheduleConfig;
    const double pageW = drawerW - bezelPad;
    const double W = pageW - 36;

    auto* page = new ui::FlippedView;
    page->resize(static_cast<int>(pageW), 1000);
    DrawerColumn column(*page, W);

    const auto title = [&](const QString& s) { return makeDrawerLabel(s, 11, QFont::Medium, goldColor(0.7), 3.0); };
    const auto label = [&](const QString& s) {
        return makeDrawerLabel(s, 10, QFont::Medium, ui::white(1.0, 0.45), 1.5);
    };
    const auto hint = [&](const QString& s) { return makeDrawerLabel(s, 10, QFont::Normal, ui::white(1.0, 0.3), 0); };
    const auto labelled = [&](const QString& s) {
        column.row(label(s), 14);
        column.space(5);
    };
    const auto divider = [&] {
        column.row(makeDrawerDivider(W), 1);
        column.space(14);
    };
    // Typing in a watched field schedules the autosave; filling it does not.
    const auto watched = [&](const QString& placeholder, const std::string& value) {
        QLineEdit* field = makeDrawerTextField(placeholder);
        field->setText(text(value));
        connect(field, &QLineEdit::textEdited, this, [this, field] { drawerTextFieldDidChange(field); });
        return field;
    };
    const auto popup = [&](const QStringList& titles, int selected, void (TestAppDelegate::*action)()) {
        QComboBox* box = makeDrawerPopup(titles);
        box->setCurrentIndex(selected);
        if (action) connect(box, &QComboBox::activated, this, [this, action] { (this->*action)(); });
        return box;
    };

    // Members of controls this build does not make are let go.
    drServerURLField = nullptr;
    drStreamKeyField = nullptr;
    drIcecastHostField = nullptr;
    drIcecastPortField = nullptr;
    drIcecastMountField = nullptr;
    drIcecastPasswordField = nullptr;
    drAppearanceButton = nullptr;

    column.row(title(QStringLiteral("SETTINGS")), 16);
    column.space(16);

    labelled(QStringLiteral("STATION NAME"));
    drStationNameField = watched(QStringLiteral("Your station name"), stored.stationName);
    QLineEdit* nameField = drStationNameField;
    connect(nameField, &QLineEdit::editingFinished, this, [this, nameField] {
        // A page being replaced lets its field go with a last notice.
        if (nameField == drStationNameField) drStationNameEntered();
    });
    column.row(nameField, 28);
    column.space(14);

    labelled(QStringLiteral("AUDIO SOURCE"));
    drAudioSourcePopup =
        popup({QStringLiteral("Local Player"), QStringLiteral("TCP Input (Tessaly)"), QStringLiteral("App Capture")},
              audioSourceIndex(audioSourceNamed(stored.audioSource)), &TestAppDelegate::drAudioSourceChanged);
    column.row(drAudioSourcePopup.data(), 26);
    column.space(6);

    drAppPickerContainer = new QWidget;
    drAppPickerPopup = popup({QString::fromUtf8("Select an application…")}, 0, &TestAppDelegate::drAppPickerChanged);
    drAppPickerPopup->setParent(drAppPickerContainer);
    drAppPickerPopup->setGeometry(0, 0, static_cast<int>(W), 26);
    column.row(drAppPickerContainer.data(), 32);
    const bool capturing = audioSourceNamed(stored.audioSource) == AudioSourceKind::appCapture;
    drAppPickerContainer->setVisible(capturing);
    if (capturing) refreshDrawerAppList();
    column.space(8);

    divider();

    labelled(QStringLiteral("STREAM USING"));
    drStreamModePopup = popup({QStringLiteral("YouTube Live"), QStringLiteral("Facebook Live"), QStringLiteral("Kick"),
                               QStringLiteral("RTMP (Other)"), QStringLiteral("Icecast")},
                              streamModeIndex(streamModeNamed(stored.streamMode)),
                              &TestAppDelegate::drStreamModeChanged);
    column.row(drStreamModePopup.data(), 26);
    column.space(14);

    const StreamMode mode = streamModeNamed(stored.streamMode);
    const auto keyRows = [&](const QString& placeholder) {
        labelled(QStringLiteral("STREAM KEY"));
        drStreamKeyField = watched(placeholder, stored.streamKey);
        column.row(drStreamKeyField.data(), 28);
        column.space(10);
    };
    const auto serverURLRows = [&](const QString& placeholder, const std::string& value) {
        labelled(QStringLiteral("SERVER URL"));
        drServerURLField = watched(placeholder, value);
        column.row(drServerURLField.data(), 28);
        column.space(10);
    };
    if (mode == StreamMode::youtube) {
        column.row(hint(QStringLiteral("Server: ") +
                        QString::fromLatin1(kYouTubeIngestURL.data(), kYouTubeIngestURL.size())),
                   14);
        column.space(8);
        keyRows(QStringLiteral("Paste your YouTube stream key"));
    } else if (mode == StreamMode::facebook) {
        column.row(hint(QStringLiteral("Server: Facebook Live Ingest")), 14);
        column.space(8);
        keyRows(QStringLiteral("Paste your Facebook stream key"));
    } else if (mode == StreamMode::kick) {
        QLabel* kickHint = hint(QStringLiteral("Get your Server URL and Stream Key from ") +
                                QLatin1String(kKickDashboard));
        kickHint->setWordWrap(true);
        kickHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        column.row(kickHint, 28);
        column.space(8);
        serverURLRows(QLatin1String(kKickServerExample), stored.serverURL);
        keyRows(QStringLiteral("sk_us-west-2_..."));
    } else if (mode == StreamMode::icecast) {
        labelled(QStringLiteral("SERVER"));
        auto* serverRow = new QWidget;
        drIcecastHostField = watched(QLatin1String(kIcecastHostExample), stored.icecastHost);
        drIcecastHostField->setParent(serverRow);
        drIcecastHostField->setGeometry(0, 0, static_cast<int>(W - 80), 28);
        drIcecastPortField = watched(QStringLiteral("8000"), std::to_string(stored.icecastPort));
        drIcecastPortField->setParent(serverRow);
        drIcecastPortField->setGeometry(static_cast<int>(W - 72), 0, 72, 28);
        drIcecastPortField->setAlignment(Qt::AlignCenter);
        column.row(serverRow, 28);
        column.space(10);
        labelled(QStringLiteral("MOUNT POINT"));
        drIcecastMountField = watched(QStringLiteral("/stream"), stored.icecastMount);
        column.row(drIcecastMountField.data(), 28);
        column.space(10);
        labelled(QStringLiteral("PASSWORD"));
        drIcecastPasswordField = watched(QStringLiteral("source password"), stored.icecastPassword);
        column.row(drIcecastPasswordField.data(), 28);
        column.space(10);
    } else {
        // An unknown stored service shows as plain RTMP, without its address.
        const bool known = stored.streamMode == streamModeName(mode);
        serverURLRows(QStringLiteral("rtmp://hostname/app"), known ? stored.serverURL : std::string());
        keyRows(QStringLiteral("Paste your stream key"));
    }

    divider();

    labelled(QStringLiteral("BITRATE"));
    drBitratePopup = popup({QStringLiteral("96 kbps"), QStringLiteral("128 kbps"), QStringLiteral("192 kbps"),
                            QStringLiteral("256 kbps"), QStringLiteral("320 kbps")},
                           bitrateIndex(stored.audioBitrate), nullptr);
    column.row(drBitratePopup.data(), 26);
    column.space(14);

    divider();

    labelled(QStringLiteral("STATION PATH"));
    auto* pathRow = new QWidget;
    drStationPathField = makeDrawerTextField(QStringLiteral("/Station"));
    drStationPathField->setParent(pathRow);
    drStationPathField->setGeometry(0, 0, static_cast<int>(W - 76), 28);
    drStationPathField->setText(text(StationPath::load()));
    drStationPathField->setReadOnly(true);
    auto* browse = new QPushButton(QStringLiteral("Browse"), pathRow);
    browse->setFont(ui::systemFont(13));
    browse->setGeometry(static_cast<int>(W - 70), 0, 70, 28);
    connect(browse, &QPushButton::clicked, this, [this] { drBrowseStationPath(); });
    column.row(pathRow, 28);
    column.space(18);

    divider();

    labelled(QStringLiteral("AUDIO OUTPUT"));
    audioOutputDevices = enumerateAudioOutputDevices();
    QStringList outputs{QStringLiteral("System Default")};
    int selectedOutput = 0;
    for (std::size_t i = 0; i < audioOutputDevices.size(); ++i) {
        outputs << text(audioOutputDevices[i].name);
        const std::string& uid = stored.audioOutputDeviceUID;
        if (selectedOutput == 0 && !uid.empty() && audioOutputDevices[i].uid == uid)
            selectedOutput = static_cast<int>(i) + 1;
    }
    drAudioOutputPopup = popup(outputs, selectedOutput, &TestAppDelegate::drAudioOutputChanged);
    column.row(drAudioOutputPopup.data(), 26);
    column.space(14);

    if (mode != StreamMode::icecast) {
        divider();
        drAppearanceButton = makeDrawerButton(QString::fromUtf8("Appearance…"), [this] { openAppearanceDrawer(); });
        column.row(drAppearanceButton.data(), 34);
        column.space(14);
    }
    divider();
    column.row(makeDrawerButton(QString::fromUtf8("Activity…"), [this] { openActivityDrawer(); }), 34);
    column.space(14);

    page->resize(static_cast<int>(pageW), static_cast<int>(column.y() + 20));
    return page;
}

}  // namespace ondaline::app
