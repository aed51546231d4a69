// The settings page's choices as values: the autosave's reading of the
// whole page, each pop-up's current item, the application list filled off
// the main thread and the output pop-up kept in step with the devices.

#include "app/settings_page.h"
#include "app/streaming_service.h"

#include "models/station_path.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/timer.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include <algorithm>
#include <atomic>

namespace ondaline::app {

// Asking the sound server which applications play may take a moment; it
// is asked again on the worker whenever its streams or clients change.
struct SettingsPage::AppListing {
    using Handler = std::function<void(std::vector<sources::AudioSource> found, bool failed)>;

    explicit AppListing(Handler handler) : onList(std::move(handler)) {}
    // No news reaches the worker once the watch has gone, and the worker
    // goes first of the rest.
    ~AppListing()
    {
        following = false;
        retry.cancel();
        worker.sync([this] { watch.reset(); });
    }

    // From any thread; one listing waits at most.
    void listSoon()
    {
        if (!following || queued.exchange(true)) return;
        worker.async([this] {
            queued = false;
            list();
        });
    }

    void list()
    {
        if (!following) {
            watch.reset();
            return;
        }
        platform::SoundServerApplications found;
        // The watch's news comes on the server's thread, which runs only
        // while the watch exists.
        if (!platform::ApplicationsWatch::listKeptOpen(
                watch, [this] { listSoon(); }, found)) {
            onList({}, true);
            // No server tells of its return: it is asked again, once however
            // often the list was asked for meanwhile.
            retry.scheduleAfter(platform::ApplicationsWatch::serverRetry, [this] { listSoon(); });
            return;
        }
        onList(sources::AudioSourceCapture::sourcesFrom(found.playing), false);
    }

    const Handler onList;
    std::atomic<bool> following{false};
    std::atomic<bool> queued{false};
    std::unique_ptr<platform::ApplicationsWatch> watch;  // on the worker only
    platform::SerialQueue worker{"com.ondaline.applist"};
    platform::Timer retry = worker.makeTimer();
};

namespace {

// After the name of an application only offered.
constexpr const char* kOfferedMark = " — pick to capture";

// A server-group field counts only while it is part of a page.
std::optional<std::string> attachedText(const QLineEdit* field)
{
    if (!field || !field->parentWidget()) return std::nullopt;
    return field->text().toStdString();
}

template <typename Item>
const Item* itemAfterFirst(const QComboBox* popup, const std::vector<Item>& items)
{
    if (!popup) return nullptr;
    const int i = popup->currentIndex() - 1;
    return i >= 0 && static_cast<std::size_t>(i) < items.size() ? &items[static_cast<std::size_t>(i)] : nullptr;
}

}  // namespace

SettingsPage::SettingsPage(std::shared_ptr<platform::MainExecutor> mainExecutor, Actions actions)
    : mainExecutor_(std::move(mainExecutor)), actions_(std::move(actions))
{
    pickerSettleTimer_.setSingleShot(true);
    connect(&pickerSettleTimer_, &QTimer::timeout, this, [this] { takeSteppedPick(); });
}

SettingsPage::~SettingsPage() = default;

void SettingsPage::read(ImageScheduleConfig& c) const
{
    if (stationName_) c.stationName = stationName_->text().toStdString();
    if (streamMode_) c.streamMode = streamModeName(streamModeAt(streamMode_->currentIndex()));

    const StreamMode mode = streamModeNamed(c.streamMode);
    if (const auto preset = presetServerURL(mode)) c.serverURL = *preset;
    else if (hasServerURLField(mode)) {
        if (auto url = attachedText(serverURL_)) c.serverURL = std::move(*url);
    }
    if (hasStreamKey(mode)) {
        if (auto key = attachedText(streamKey_)) c.streamKey = std::move(*key);
    } else {
        if (auto host = attachedText(icecastHost_)) c.icecastHost = std::move(*host);
        if (auto port = attachedText(icecastPort_)) c.icecastPort = icecastPortFromText(*port);
        if (auto mount = attachedText(icecastMount_)) c.icecastMount = std::move(*mount);
        if (auto password = attachedText(icecastPassword_)) c.icecastPassword = std::move(*password);
    }

    if (bitrate_) c.audioBitrate = bitrateAt(bitrate_->currentIndex());
    if (audioSource_) c.audioSource = audioSourceName(audioSourceAt(audioSource_->currentIndex()));
    if (audioSourceNamed(c.audioSource) == AudioSourceKind::appCapture) {
        if (const sources::AudioSource* app = itemAfterFirst(appPicker_.data(), appSources_)) {
            c.appCaptureBundleID = app->bundleIdentifier.value_or("");
            c.appCaptureName = app->name;
        }
    }
    if (stationPath_) StationPath::save(stationPath_->text().toStdString());
    if (const auto uid = outputDevice()) c.audioOutputDeviceUID = *uid;
}

std::optional<std::string> SettingsPage::stationName() const
{
    if (!stationName_) return std::nullopt;
    return stationName_->text().toStdString();
}

std::optional<AudioSourceKind> SettingsPage::audioSource() const
{
    if (!audioSource_) return std::nullopt;
    return audioSourceAt(audioSource_->currentIndex());
}

std::optional<StreamMode> SettingsPage::streamMode() const
{
    if (!streamMode_) return std::nullopt;
    return streamModeAt(streamMode_->currentIndex());
}

std::optional<sources::AudioSource> SettingsPage::application() const
{
    const sources::AudioSource* app = itemAfterFirst(appPicker_.data(), appSources_);
    if (!app) return std::nullopt;
    return *app;
}

std::optional<std::string> SettingsPage::outputDevice() const
{
    if (!audioOutput_) return std::nullopt;
    const int i = audioOutput_->currentIndex();
    if (i < 0 || static_cast<std::size_t>(i) >= outputUIDs_.size()) return std::nullopt;
    return outputUIDs_[static_cast<std::size_t>(i)];
}

bool SettingsPage::isWatchedField(const QObject* field) const
{
    if (!field) return false;
    const QObject* watched[] = {stationName_, serverURL_,    streamKey_,      icecastHost_,
                                icecastPort_, icecastMount_, icecastPassword_};
    return std::find(std::begin(watched), std::end(watched), field) != std::end(watched);
}

void SettingsPage::showStationPath(const QString& folder)
{
    if (stationPath_) stationPath_->setText(folder);
}

void SettingsPage::showServer(const std::string& serverURL)
{
    if (!serverHint_) return;
    // The service's own ingest by its name where it has one; any other
    // server as the stream will use it.
    const bool facebook = serverURL == kFacebookIngestURL;
    serverHint_->setText(QStringLiteral("Server: ") +
                         (facebook ? QStringLiteral("Facebook Live Ingest") : QString::fromStdString(serverURL)));
}

void SettingsPage::refreshAppList()
{
    if (!appListing_) {
        appListing_ = std::make_unique<AppListing>([self = QPointer<SettingsPage>(this),
                                                    main = mainExecutor_](std::vector<sources::AudioSource> found,
                                                                          bool failed) {
            main->post([self, found = std::move(found), failed] {
                if (self) self->showAppList(found, failed);
            });
        });
    }
    appListing_->following = true;
    appListing_->listSoon();
}

void SettingsPage::stopFollowingApplications()
{
    if (!appListing_) return;
    appListing_->following = false;
    appListing_->worker.async([listing = appListing_.get()] { listing->watch.reset(); });
}

void SettingsPage::showAppList(const std::vector<sources::AudioSource>& found, bool failed)
{
    QComboBox* picker = appPicker_;  // the newest page's, by now
    const auto sameApplication = [](const sources::AudioSource& a, const sources::AudioSource& b) {
        return a.id == b.id && a.name == b.name;
    };
    const auto sameItems = [&] {
        return std::equal(found.begin(), found.end(), appSources_.begin(), appSources_.end(), sameApplication);
    };
    // Nothing new: the picker stays as the user sees it.
    if (picker && picker == filledPicker_ && failed == appListFailed_ && sameItems()) return;
    // The item in view stays chosen while it is listed; else the saved one.
    const sources::AudioSource* const inView = picker == filledPicker_ ? itemAfterFirst(picker, appSources_) : nullptr;
    const std::optional<sources::AudioSource> kept = inView ? std::optional(*inView) : std::nullopt;
    appSources_ = failed ? std::vector<sources::AudioSource>() : found;
    appListFailed_ = failed;
    filledPicker_ = picker;
    if (!picker) return;
    const QSignalBlocker quiet(picker);
    picker->clear();
    if (failed) {
        picker->addItem(QString::fromUtf8("⚠ No sound server"));
        return;
    }
    if (found.empty()) {
        picker->addItem(QString::fromUtf8("⚠ No application is playing sound"));
        return;
    }
    picker->addItem(QString::fromUtf8("Select an application…"));
    for (std::size_t k = 0; k < found.size(); ++k) picker->addItem(QString());
    markOfferedItems();
    std::optional<std::size_t> chosen;
    if (kept) {
        const auto same = std::find_if(found.begin(), found.end(),
                                       [&](const sources::AudioSource& s) { return sameApplication(s, *kept); });
        if (same != found.end()) chosen = static_cast<std::size_t>(same - found.begin());
    }
    if (!chosen) chosen = sources::chosenItem(found, actions_.savedApplication());
    if (chosen) picker->setCurrentIndex(static_cast<int>(*chosen) + 1);
}

void SettingsPage::markOfferedItems()
{
    QComboBox* picker = filledPicker_;
    if (!picker || picker->count() != static_cast<int>(appSources_.size()) + 1) return;
    const bool offered = actions_.savedApplicationOffered && actions_.savedApplicationOffered();
    const sources::ApplicationChoice saved = actions_.savedApplication();
    for (std::size_t k = 0; k < appSources_.size(); ++k) {
        std::string title = sources::shownName(appSources_[k], appSources_);
        if (offered && sources::isOfChoice(appSources_[k], saved)) title += kOfferedMark;
        picker->setItemText(static_cast<int>(k) + 1, QString::fromStdString(title));
    }
}

void SettingsPage::showOutputDevices(const std::vector<platform::OutputDevice>& devices, const std::string& savedUID,
                                     const std::string& savedName)
{
    if (!audioOutput_ || !audioOutput_->parentWidget()) return;
    fillOutputPopup(devices, savedUID, savedName);
}

void SettingsPage::fillOutputPopup(const std::vector<platform::OutputDevice>& devices, const std::string& savedUID,
                                   const std::string& savedName)
{
    OutputChoices choices = outputChoices(devices, savedUID, savedName);
    outputUIDs_ = std::move(choices.uids);
    QComboBox* popup = audioOutput_;
    // Filling it is no choice of the user's.
    const QSignalBlocker quiet(popup);
    popup->clear();
    for (const std::string& title : choices.titles) popup->addItem(QString::fromStdString(title));
    popup->setCurrentIndex(choices.selected);
}

}  // namespace ondaline::app
