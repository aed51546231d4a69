// The settings page's build. Which rows the stream section has follows the
// stored service; the application picker keeps its place even while hidden.

#include "app/settings_page.h"

#include "app/dashboard_view.h"
#include "app/drawer_column.h"
#include "app/drawer_controls.h"
#include "app/drawer_shell.h"
#include "app/gold_color.h"

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

QWidget* SettingsPage::build(const ImageScheduleConfig& stored, const std::vector<platform::OutputDevice>& devices,
                             const std::string& savedOutputName)
{
    const double pageW = DrawerShell::width - DashboardView::bezelPad;
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
        connect(field, &QLineEdit::textEdited, this, [this, field] { actions_.fieldEdited(field); });
        return field;
    };
    const auto popup = [&](const QStringList& titles, int selected, const std::function<void()>& action) {
        QComboBox* box = makeDrawerPopup(titles);
        box->setCurrentIndex(selected);
        if (action) connect(box, &QComboBox::activated, this, [action] { action(); });
        return box;
    };

    // Members of controls this build does not make are let go.
    serverURL_ = nullptr;
    streamKey_ = nullptr;
    icecastHost_ = nullptr;
    icecastPort_ = nullptr;
    icecastMount_ = nullptr;
    icecastPassword_ = nullptr;
    appearanceButton_ = nullptr;

    column.row(title(QStringLiteral("SETTINGS")), 16);
    column.space(16);

    labelled(QStringLiteral("STATION NAME"));
    stationName_ = watched(QStringLiteral("Your station name"), stored.stationName);
    QLineEdit* nameField = stationName_;
    connect(nameField, &QLineEdit::editingFinished, this, [this, nameField] {
        // A page being replaced lets its field go with a last notice.
        if (nameField == stationName_) actions_.stationNameEntered();
    });
    column.row(nameField, 28);
    column.space(14);

    labelled(QStringLiteral("AUDIO SOURCE"));
    audioSource_ = popup({QStringLiteral("Local Player"), QStringLiteral("TCP Input (Tessaly)"),
                          QStringLiteral("App Capture")},
                         audioSourceIndex(audioSourceNamed(stored.audioSource)), actions_.audioSourceChosen);
    column.row(audioSource_.data(), 26);
    column.space(6);

    appPickerContainer_ = new QWidget;
    appPicker_ = popup({QString::fromUtf8("Select an application…")}, 0, [this] { applicationActivated(); });
    appPicker_->installEventFilter(this);
    appPickerEvents_ = appPicker_.data();
    appPicker_->setParent(appPickerContainer_);
    appPicker_->setGeometry(0, 0, static_cast<int>(W), 26);
    column.row(appPickerContainer_.data(), 32);
    const bool capturing = audioSourceNamed(stored.audioSource) == AudioSourceKind::appCapture;
    appPickerContainer_->setVisible(capturing);
    if (capturing) refreshAppList();
    else stopFollowingApplications();
    column.space(8);

    divider();

    labelled(QStringLiteral("STREAM USING"));
    streamMode_ = popup({QStringLiteral("YouTube Live"), QStringLiteral("Facebook Live"), QStringLiteral("Kick"),
                         QStringLiteral("RTMP (Other)"), QStringLiteral("Icecast")},
                        streamModeIndex(streamModeNamed(stored.streamMode)), actions_.streamModeChosen);
    column.row(streamMode_.data(), 26);
    column.space(14);

    const StreamMode mode = streamModeNamed(stored.streamMode);
    const auto keyRows = [&](const QString& placeholder) {
        labelled(QStringLiteral("STREAM KEY"));
        streamKey_ = watched(placeholder, stored.streamKey);
        column.row(streamKey_.data(), 28);
        column.space(10);
    };
    const auto serverURLRows = [&](const QString& placeholder, const std::string& value) {
        labelled(QStringLiteral("SERVER URL"));
        serverURL_ = watched(placeholder, value);
        column.row(serverURL_.data(), 28);
        column.space(10);
    };
    if (mode == StreamMode::youtube || mode == StreamMode::facebook) {
        serverHint_ = hint({});
        showServer(stored.serverURL);
        column.row(serverHint_.data(), 14);
        column.space(8);
        keyRows(mode == StreamMode::youtube ? QStringLiteral("Paste your YouTube stream key")
                                            : QStringLiteral("Paste your Facebook stream key"));
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
        icecastHost_ = watched(QLatin1String(kIcecastHostExample), stored.icecastHost);
        icecastHost_->setParent(serverRow);
        icecastHost_->setGeometry(0, 0, static_cast<int>(W - 80), 28);
        icecastPort_ = watched(QStringLiteral("8000"), std::to_string(stored.icecastPort));
        icecastPort_->setParent(serverRow);
        icecastPort_->setGeometry(static_cast<int>(W - 72), 0, 72, 28);
        icecastPort_->setAlignment(Qt::AlignCenter);
        column.row(serverRow, 28);
        column.space(10);
        labelled(QStringLiteral("MOUNT POINT"));
        icecastMount_ = watched(QStringLiteral("/stream"), stored.icecastMount);
        column.row(icecastMount_.data(), 28);
        column.space(10);
        labelled(QStringLiteral("PASSWORD"));
        icecastPassword_ = watched(QStringLiteral("source password"), stored.icecastPassword);
        column.row(icecastPassword_.data(), 28);
        column.space(10);
    } else {
        // An unknown stored service shows as plain RTMP, without its address.
        const bool known = stored.streamMode == streamModeName(mode);
        serverURLRows(QStringLiteral("rtmp://hostname/app"), known ? stored.serverURL : std::string());
        keyRows(QStringLiteral("Paste your stream key"));
    }

    divider();

    labelled(QStringLiteral("BITRATE"));
    bitrate_ = popup({QStringLiteral("96 kbps"), QStringLiteral("128 kbps"), QStringLiteral("192 kbps"),
                      QStringLiteral("256 kbps"), QStringLiteral("320 kbps")},
                     bitrateIndex(stored.audioBitrate), nullptr);
    column.row(bitrate_.data(), 26);
    column.space(14);

    divider();

    labelled(QStringLiteral("STATION PATH"));
    auto* pathRow = new QWidget;
    stationPath_ = makeDrawerTextField(QStringLiteral("/Station"));
    stationPath_->setParent(pathRow);
    stationPath_->setGeometry(0, 0, static_cast<int>(W - 76), 28);
    stationPath_->setText(text(StationPath::load()));
    stationPath_->setReadOnly(true);
    auto* browse = new QPushButton(QStringLiteral("Browse"), pathRow);
    browse->setFont(ui::systemFont(13));
    browse->setGeometry(static_cast<int>(W - 70), 0, 70, 28);
    connect(browse, &QPushButton::clicked, this, [this] { actions_.browse(); });
    column.row(pathRow, 28);
    column.space(18);

    divider();

    labelled(QStringLiteral("AUDIO OUTPUT"));
    audioOutput_ = popup({}, 0, actions_.outputDeviceChosen);
    fillOutputPopup(devices, stored.audioOutputDeviceUID, savedOutputName);
    column.row(audioOutput_.data(), 26);
    column.space(14);

    if (mode != StreamMode::icecast) {
        divider();
        appearanceButton_ = makeDrawerButton(QString::fromUtf8("Appearance…"), actions_.openAppearance);
        column.row(appearanceButton_.data(), 34);
        column.space(14);
    }
    divider();
    column.row(makeDrawerButton(QString::fromUtf8("Activity…"), actions_.openActivity), 34);
    column.space(14);

    page->resize(static_cast<int>(pageW), static_cast<int>(column.y() + 20));
    return page;
}

}  // namespace ondaline::app
