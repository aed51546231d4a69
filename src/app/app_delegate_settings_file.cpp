// The settings file as the user sees it: a save that was not written, an
// earlier file kept aside, or a file that could not be used at start, each
// said once in the log and on the status line.

#include "app/app_delegate.h"

#include "app/settings_choices.h"
#include "app/status_line.h"
#include "app/streaming_service.h"
#include "base/print.h"
#include "models/named_paths.h"
#include "models/settings_secrets.h"
#include "models/station_path.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QLabel>

namespace ondaline::app {

namespace {

// How long a settings notice holds the status line while live.
constexpr double kSettingsNoticeSeconds = 10.0;

std::string fileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The status line has room for a file's name, not for its folders: `text`
// with the `path` it begins with cut to its name.
std::string withNameOnly(const std::string& text, const std::string& path)
{
    return text.starts_with(path) ? fileName(path) + text.substr(path.size()) : text;
}

}  // namespace

bool TestAppDelegate::saveSettings()
{
    const SettingsSave save = scheduleConfig.save();
    // What others named and could not read stays behind with their station.
    dropLeftBehind(scheduleConfig, save.leftBehind);
    for (const LeftBehind& left : save.leftBehind)
        print("Ondaline: ⚠ " + left.what + " " + left.path + " not carried into " + save.file + ": " + left.why);
    const bool saved = reportSettingsSave(save);
    if (saved) storedSettings_ = scheduleConfig;
    return saved;
}

bool TestAppDelegate::reportSettingsSave(const SettingsSave& save)
{
    reportKeptAside(save);
    if (save.written) {
        reportSecrets(save);
        return true;
    }
    print("Ondaline: ⚠ Settings not saved to " + save.file + ": " + save.failure);
    const std::string& about = save.linkNotFollowed.empty() ? save.file : save.linkNotFollowed;
    showSettingsNotice("Settings not saved: " + withNameOnly(save.failure, about));
    return false;
}

// Where a save left the stream key and the Icecast password, and the
// access-list entries a share could not keep, each said once for as long as
// it stays so.
void TestAppDelegate::reportSecrets(const SettingsSave& save)
{
    auto tell = [](const std::string& now, std::string& told, const std::string& line) {
        if (now == told) return;
        told = now;
        if (!now.empty()) print(line);
    };
    // Kept for this run only, a secret is lost at the next start.
    const bool runOnly = !save.secretsNotice.empty() && !save.privateRefused.empty();
    tell(save.secretsNotice, secretsTold_.secretsNotice,
         std::string("Ondaline: ") + (runOnly ? "⚠ " : "") + save.secretsNotice);
    tell(save.accessLost, secretsTold_.accessLost,
         "Ondaline: ⚠ Settings file " + save.file + " saved without the access list entries of " + save.accessLost);
}

void TestAppDelegate::reportKeptAside(const SettingsSave& save)
{
    if (save.keptAside.empty()) return;
    if (save.editedElsewhere) {
        print("Ondaline: ⚠ Settings file " + save.file +
              " was changed by someone else since Ondaline read or wrote it — that version is kept as " +
              save.keptAside);
        showSettingsNotice("Settings changed elsewhere kept as " + fileName(save.keptAside));
        return;
    }
    print("Ondaline: Settings file " + save.file + " kept aside as " + save.keptAside);
    showSettingsNotice("Earlier settings kept as " + fileName(save.keptAside));
}

void TestAppDelegate::reportUnusableFilesAtLaunch()
{
    for (const std::string& source : StationPath::unusableSources())
        print("Ondaline: ⚠ Station folder setting not used — " + source);
    for (const platform::RemovedFile& leftover : settingsLoadLeftovers_) {
        print("Ondaline: Removed " + leftover.path + " (" + std::to_string(leftover.bytes) +
              " bytes), left by an interrupted save of the settings file");
    }
    settingsLoadLeftovers_.clear();  // said once
    if (!settingsLoadProblem_.empty()) {
        const std::string& problem = settingsLoadProblem_;
        // Another user's link is both why the file was not used and why it
        // is not saved.
        const std::string refused = settingsLoadLinkNotFollowed_.empty() ? settingsLoadSaveRefused_ : "it is there";
        const std::string next = refused.empty() ? "the file is kept aside at the next save"
                                                 : "settings are not saved while " + refused;
        if (settingsLoadScheduleOnly_) {
            print("Ondaline: ⚠ Settings file " + settingsLoadFile_ + ": " + problem +
                  " — the image schedule is empty; " + next);
            showSettingsNotice("Image schedule not loaded: " + problem);
        } else {
            print("Ondaline: ⚠ Settings file " + settingsLoadFile_ + " " + problem + " — settings reset to defaults; " +
                  next);
            showSettingsNotice(settingsLoadLinkNotFollowed_.empty()
                                   ? "Settings reset to defaults: " + problem
                                   : "Settings not used: " +
                                         withNameOnly(settingsLoadSaveRefused_, settingsLoadLinkNotFollowed_));
        }
        settingsLoadProblem_.clear();  // said once
    }
    if (settingsLoadRefusedBitrate_) {
        std::string offered;
        for (std::size_t i = 0; i < kBitrates.size(); ++i)
            offered += (i == 0 ? "" : i + 1 < kBitrates.size() ? ", " : " or ") + std::to_string(kBitrates[i]);
        const std::string refused = std::to_string(*settingsLoadRefusedBitrate_);
        print("Ondaline: ⚠ Settings file " + settingsLoadFile_ + ": audioBitrate " + refused + " is not offered (" +
              offered + " bit/s) — " + std::to_string(scheduleConfig.audioBitrate) + " is used");
        showSettingsNotice("Bitrate " + refused +
                           " not offered: " + std::to_string(shownKbps(scheduleConfig.audioBitrate)) + " kbps used");
        settingsLoadRefusedBitrate_.reset();  // said once
    }
    if (!settingsLoadKeptCopy_.empty()) {
        print("Ondaline: ⚠ Settings file " + settingsLoadFile_ +
              " is missing — settings start from defaults; the newest earlier file is kept as " +
              settingsLoadKeptCopy_);
        settingsLoadKeptCopy_.clear();
    }
}

void TestAppDelegate::reportSecretsHeldBack()
{
    // A secret kept apart that the settings now send elsewhere, or the key
    // file's that no server is bound to yet.
    const std::optional<SecretNotSent> key = streamKeyNotSent(scheduleConfig);
    const std::optional<SecretNotSent> password = icecastPasswordNotSent(scheduleConfig);
    for (const auto* notSent : {&key, &password})
        if (*notSent) print("Ondaline: ⚠ " + (*notSent)->line);
    // The status line tells of the one the chosen service would send.
    const bool icecast = streamModeNamed(scheduleConfig.streamMode) == StreamMode::icecast;
    if (const auto& shown = icecast ? (password ? password : key) : (key ? key : password))
        showSettingsNotice(shown->status);
}

void TestAppDelegate::showSettingsNotice(const std::string& text)
{
    const QString shown = QString::fromStdString(text);
    // Kept as a failure is kept while idle; while live, the uptime clock
    // leaves it in place for a while before the live status comes back.
    lastErrorText = shown;
    settingsNoticeUntil_ = clock_->now() + kSettingsNoticeSeconds;
    dashboard_.showStatus(shown, ordinaryStatusColor());
}

bool TestAppDelegate::isSettingsNoticeShowing() const
{
    return settingsNoticeUntil_ && clock_->now() < *settingsNoticeUntil_;
}

}  // namespace ondaline::app
