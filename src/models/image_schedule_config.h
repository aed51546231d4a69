#pragma once

#include "models/image_schedule_entry.h"
#include "models/overlay_configs.h"
#include "models/private_secrets.h"
#include "platform/file_rights/named_file.h"
#include "platform/file_rights/staged_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace ondaline {

struct SettingsLoad;
struct SettingsSave;

// The one persisted settings record: the image schedule, the overlays, the
// streaming and Icecast settings, the audio source and the output device.
// Stored whole as "ondaline_schedule.json" in the station folder's
// "/Misc/System/Streamer". No value is validated.
struct ImageScheduleConfig {
    std::string defaultImagePath;             // empty: no default image
    std::int64_t hourOffset = 0;              // whole hours added to the local time for the schedule
    std::vector<ImageScheduleEntry> entries;  // first match wins
    NowPlayingConfig nowPlaying;
    VisualizationConfig visualization;
    CrawlerConfig crawler;
    std::string stationName = "My Station";
    std::string serverURL = "rtmp://localhost/broadcast";
    std::string streamKey;
    std::string streamMode = "rtmp";  // "rtmp", "youtube", "facebook", "kick" or "icecast"
    std::string icecastHost;
    std::int64_t icecastPort = 8000;
    std::string icecastMount = "/stream";
    std::string icecastPassword;
    std::int64_t audioBitrate = 320000;  // bit/s
    std::string audioSource = "local";   // "local", "tcp" or "appcapture"
    std::string appCaptureBundleID;
    std::string appCaptureName;
    std::string audioOutputDeviceUID;  // empty: the default output

    // Paths under the station folder as it is now.
    static std::string configDir();
    static std::string configFile();
    static std::string streamKeyFile();

    // Creates the settings folder when it is missing; the error when that
    // fails. Nothing is made through another user's link: the settings file
    // is not used while one is on its way (see save()).
    static std::error_code ensureDirectory();

    // The record in the settings file, or the defaults when there is none or
    // it does not decode. Never fails.
    static ImageScheduleConfig load();
    // The same, saying what of the file could not be used.
    static SettingsLoad loadReporting();

    // Writes the whole record over the settings file, atomically, and makes
    // that file the record's origin. A settings file that is a symbolic link
    // is written at its target, and the link stays; a link to a missing file
    // in a folder that is there makes that file. Only our own links and
    // root's are followed, whether the file's or a folder's below the
    // station folder: with another user's link on the way nothing is read,
    // written, made, kept aside or removed. The folder is walked once and
    // held open, and every step of the save is taken in that folder, so a
    // link swapped in on the way meanwhile leads nowhere else. The new file
    // has the old one's permissions, access list, group and, where root
    // saves, owner, taken from the file the record was read from or last
    // wrote as it is now, never from a file that someone else put in its
    // place since (that one is kept aside as edited, and a new file made);
    // access-list entries a share cannot keep are left out, and said.
    // The secrets (the stream key, the Icecast password) go into the file
    // only in a station of the operator's own (platform/file_rights/
    // own_folder.h), judged on the folder held open at each save, and only
    // into a file no one else may read (a new one is made so): the
    // protections its owner chose are kept. Anywhere else no secret is written into it: the
    // operator's are kept in their private file, bound to their servers,
    // or for this run only where that is not theirs either; others' go
    // into no file (models/settings_secrets.h). Any save of a record that
    // is now in another station than the settings it came from leaves
    // behind the paths others named there (models/named_paths.h), even one
    // that is not written. The save says where the secrets are and why, and
    // what was left behind.
    // A file its owner made read-only, or one that its folder's sticky bit
    // lets only its owner replace, is refused before anything is written or
    // kept aside. An existing file is
    // first kept aside under a time-stamped name when
    //  - the settings file is no longer the record's origin (the station
    //    folder changed since the record was loaded or last saved): as
    //    "<file>.replaced-YYYYMMDD-HHMMSS", so a save never silently takes
    //    the place of another station's settings;
    //  - otherwise, the file was not read and decoded in full (it cannot be
    //    read, is too large, is not a regular file, does not decode, or its
    //    schedule holds an entry that does not decode), now or when the
    //    record was loaded from it: as "<file>.unreadable-YYYYMMDD-HHMMSS";
    //  - otherwise, it is not what the record last read or wrote there:
    //    another program or a hand changed it since, and that change is kept
    //    as "<file>.edited-YYYYMMDD-HHMMSS".
    // A name already taken gets "-2", "-3", ... appended; a copy never
    // replaces another. A record without an origin (never loaded or saved)
    // keeps only such an unread file aside. The new file is written before
    // the old one is kept aside, and the path holds the old file until the
    // new one takes its place. Nothing is written when the folder cannot be
    // made, a number is not finite, the link leads nowhere, the file may not
    // be replaced, the file to keep aside cannot be kept, or the write
    // fails; the result says which, and where the earlier file is when it
    // was moved aside and could not be put back. Each save also works out
    // anew how the files the record names are read (namedFileRules()).
    SettingsSave save() const;

    // The stream-key file's text, trimmed; empty when it is missing, not a
    // regular file or not UTF-8. The program never writes that file. When
    // something is there that cannot be used, `unusable` gets why.
    static std::string readStreamKeyFile(std::string* unusable = nullptr);
    // Takes an empty stream key from that file, remembering the file (see
    // save()); true when the record now holds it: in a station others may
    // change, the operator's key is held back until typed
    // (models/settings_secrets.h).
    bool takeStreamKeyFromFile(std::string* unusable = nullptr);

    // How the files this record names (song, crawler, images) are read:
    // another user's link on their way is never followed, and where others
    // could have changed the settings file of the station in use, only what
    // they could read too is read. Judged when the record is loaded, at each
    // save, and whenever the station folder is no longer the one last
    // judged.
    platform::NamedFileRules namedFileRules() const;

    // The image for this moment, shifted by hourOffset: the first entry of
    // the local weekday whose window is active (its path even when empty),
    // else defaultImagePath, else none.
    std::optional<std::string> currentImagePath() const;
    std::optional<std::string> currentImagePath(std::chrono::system_clock::time_point now) const;

    // The settings file the record was loaded from or last saved to; empty
    // for a record that was neither. Not a setting: it is never encoded, and
    // any two origins compare equal, so records compare by their settings.
    // Copies carry it along.
    struct Contents {
        bool present = false;  // false: there was no file
        std::size_t size = 0;
        std::uint64_t hash = 0;
        static Contents of(std::string_view bytes);
        bool operator==(const Contents&) const = default;
    };
    // Whose a secret of the record is. The operator's own goes, in a station
    // that is not theirs, only to the server it was typed for.
    struct SecretOrigin {
        // The secret and the server the record named when last loaded or
        // saved: what differs since is the operator's own doing, in this
        // run's drawer, and binds the secret to the server named then.
        std::string last;
        std::string lastServer;
        // Where the secret came from, when others may have put it there
        // ("nobody's settings file /st/…"): it goes where their settings say,
        // in this run only, and into no file. Empty: the operator's.
        std::string others;
        // Why the operator's private file could not keep it: for this run
        // only, or left where it was. Empty where it is kept, or need not be.
        std::string notKept;
        // The secret is in a settings file only the operator may write, and
        // kept nowhere else: a save that leaves it out of that file keeps it
        // apart first, bound to the server that file names, or leaves it
        // in where it cannot.
        bool inOperatorsFile = false;
        // The operator's secret kept apart, not in the record because the
        // settings name another server than its own; why they do, for the
        // log ("nobody's settings file /st/… names it (…)") and in short
        // for the status line ("nobody's settings").
        // A key from the stream-key file, in a station others may change,
        // is held back bound to no server, `from` naming that file: no
        // server those others name is the operator's to send it to.
        // Settings that were not read name the defaults' server, which no
        // one chose: only the operator naming it in this run sends it there.
        struct HeldBack {
            BoundSecret kept;
            std::string why;
            std::string shortly;
            std::string from;
            bool settingsUnused = false;
        };
        std::optional<HeldBack> heldBack;
    };
    struct Origin {
        std::string file;
        // The file was there at load and not used in full: the first save
        // keeps it aside even if it has been mended since, as the record
        // holds defaults where the file may now hold settings.
        bool notUsedInFull = false;
        // What the file held when it was last read or written here; unknown
        // when it could not be read.
        std::optional<Contents> contents;
        // Whose each secret is and where it may go (models/settings_secrets.h).
        SecretOrigin streamKey;
        SecretOrigin icecastPassword;
        // The paths the record names (song file, images) as loaded from
        // settings others could change, and the rules they were read by
        // there: read by those rules wherever the record goes, and carried
        // into no other station's settings (models/named_paths.h).
        struct NamedByOthers {
            std::set<std::string> paths;
            platform::NamedFileRules rules;
        };
        NamedByOthers namedByOthers;
        // How the files the record names are read (see namedFileRules()).
        platform::NamedFileRules namedFiles;
        // The settings folder the file was in, where a walk reached it, and
        // the file there as last read or written here, held open so that no
        // other file can take its numbers; null where there was none. A save
        // models the new file on it, as its owner keeps it now, never on a
        // file someone else has put in its place since.
        struct Folder {
            dev_t device = 0;
            ino_t inode = 0;
            bool operator==(const Folder&) const = default;
        };
        std::optional<Folder> folder;
        std::shared_ptr<const platform::FileDescriptor> stored;
        bool operator==(const Origin&) const { return true; }
    };
    mutable Origin origin;  // updated by save()

    bool operator==(const ImageScheduleConfig&) const = default;
};

// What loading found. `problem` is empty when the file was read and decoded
// in full, or there was none.
struct SettingsLoad {
    ImageScheduleConfig config;
    std::string file;
    std::string problem;        // e.g. "not a regular file", "does not decode"
    bool scheduleOnly = false;  // only the schedule was dropped; the rest loaded
    // When there was no file: the newest earlier file kept aside beside it,
    // if any, which the user may want back.
    std::string keptAsideCopy;
    std::string keptAsideCopyOwner;  // where another user owns it: who
    // Temporary files of interrupted saves, removed.
    std::vector<platform::RemovedFile> removedLeftovers;
    // Why a save may not replace the file, as `SettingsSave::failure` would
    // say; empty when it may.
    std::string saveRefused;
    // Another user's link on the way, which is the problem: nothing was read,
    // and no save goes through while it is there.
    std::string linkNotFollowed;
};

// A path a record carried into another station left behind, and why.
struct LeftBehind {
    std::string what;  // "Song file", "Default image", "Scheduled image"
    std::string path;
    std::string why;
};

struct SettingsSave {
    bool written = false;
    std::string file;              // the file written, or that was to be
    std::string failure;           // why nothing was written
    std::string keptAside;         // where an earlier file was kept before the write
    bool editedElsewhere = false;  // it was kept because someone else changed it
    std::string linkNotFollowed;   // the failure is this link's: another user's
    // Why the station is not the operator's own, so that no secret was
    // written into its file; empty where it is.
    std::string notOwn;
    // Where the operator's secrets the record holds are kept, when not in
    // the file: the private file; empty for this run only.
    std::string keyKeptIn;
    std::string passwordKeptIn;
    std::string privateRefused;  // why the private file could not keep them
    // Where the secrets are and why, for the log ("Stream key kept in
    // ~/.config/ondaline/secrets.json — the station folder is shared: …");
    // empty when they are in the file or there are none.
    std::string secretsNotice;
    // Access-list entries of the file that could not be carried over.
    std::string accessLost;
    // Paths others named that a record carried from another station did
    // not take along.
    std::vector<LeftBehind> leftBehind;
};

}  // namespace ondaline
