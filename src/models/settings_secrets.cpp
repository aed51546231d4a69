#include "models/settings_secrets.h"

#include "models/server_url.h"
#include "platform/file_rights/files.h"

namespace ondaline {

namespace {

using Record = ImageScheduleConfig;
using SecretOrigin = ImageScheduleConfig::SecretOrigin;

std::string keyServerOf(const Record& record) { return streamKeyServer(record.serverURL); }
std::string passwordServerOf(const Record& record) { return icecastServer(record.icecastHost, record.icecastPort); }

// One of the two secrets, and where each part of it lives.
struct Secret {
    const char* name;   // as the lines name it
    const char* brief;  // as the status line does
    std::string Record::*value;
    SecretOrigin Record::Origin::*origin;
    BoundSecret StationSecrets::*kept;
    std::optional<BoundSecret> SecretChanges::*change;
    std::string (*serverOf)(const Record&);
};

constexpr Secret kStreamKey{"Stream key",
                            "Key",
                            &Record::streamKey,
                            &Record::Origin::streamKey,
                            &StationSecrets::streamKey,
                            &SecretChanges::streamKey,
                            keyServerOf};
constexpr Secret kIcecastPassword{"Icecast password",
                                  "Password",
                                  &Record::icecastPassword,
                                  &Record::Origin::icecastPassword,
                                  &StationSecrets::icecastPassword,
                                  &SecretChanges::icecastPassword,
                                  passwordServerOf};
constexpr const Secret* kSecrets[] = {&kStreamKey, &kIcecastPassword};

// A path below the home folder as "~/…", as the operator knows it.
std::string shown(const std::string& path)
{
    const std::string home = platform::homeDirectory();
    if (home.size() > 1 && path.starts_with(home + "/")) return "~" + path.substr(home.size());
    return path;
}

// The change the operator's own acts since the last load or save make to a
// secret kept apart; absent where they made none.
std::optional<BoundSecret> changeOf(const Record& record, const Secret& secret, bool replacing)
{
    const std::string& value = record.*secret.value;
    const SecretOrigin& origin = record.origin.*secret.origin;
    const std::string server = secret.serverOf(record);
    // The whole record carried to another station: the operator's secrets
    // with it, to the server it names.
    if (replacing) {
        if (value.empty() || !origin.others.empty()) return std::nullopt;
        return BoundSecret{value, server};
    }
    // Typed or cleared in the drawer; clearing another's takes nothing of
    // the operator's away.
    if (value != origin.last) {
        if (value.empty() && !origin.others.empty()) return std::nullopt;
        return BoundSecret{value, value.empty() ? std::string{} : server};
    }
    // The server changed in the drawer: the secret goes there from now on.
    // One leaving the operator's own settings file goes where it named.
    if (!value.empty() && origin.others.empty() && (server != origin.lastServer || origin.inOperatorsFile))
        return BoundSecret{value, server};
    return std::nullopt;
}

// The record's origin after a save of it: the record's secrets as they
// are now, the operator's where they were typed.
// `own`: the settings file now holds the operator's secrets.
void settle(const Record& record, const Secret& secret, bool own, bool replacing)
{
    const std::string& value = record.*secret.value;
    SecretOrigin& origin = record.origin.*secret.origin;
    const bool leftInFile = origin.inOperatorsFile && !origin.notKept.empty() && value == origin.last;
    if (value != origin.last || replacing) {
        if (value != origin.last) origin.others.clear();
        origin.heldBack.reset();
    }
    origin.inOperatorsFile = !value.empty() && origin.others.empty() && (own || leftInFile);
    origin.last = value;
    origin.lastServer = secret.serverOf(record);
}

// "Stream key kept in ~/…", "… left in /st/…" or "… kept for this run
// only", as one line says.
std::string keptWhere(const SecretOrigin& origin, const std::string& file)
{
    if (origin.inOperatorsFile) return "left in " + file;
    return origin.notKept.empty() ? "kept in " + shown(privateSecretsFile()) : std::string("kept for this run only");
}

// "nobody's settings file /st/…", as the lines name the settings.
std::string whoseSettings(const SecretsAtLoad& at) { return at.owner + " settings file " + at.file; }

SecretOrigin::HeldBack heldBack(const BoundSecret& kept, const SecretsAtLoad& at)
{
    if (!at.unused.empty())
        return {kept,
                "the settings file " + at.file + " " + at.unused + ": the defaults are used",
                "settings unused",
                {},
                true};
    const std::string others = at.notOwn.empty() ? std::string{} : " (" + at.notOwn + ")";
    return {kept, whoseSettings(at) + " names it" + others, at.owner + " settings", {}, false};
}

}  // namespace

void takeSecrets(Record& record, const SecretsAtLoad& at)
{
    const StationSecrets kept = readPrivateSecrets(at.file);
    const bool own = at.notOwn.empty();
    for (const Secret* secret : kSecrets) {
        std::string& value = record.*secret->value;
        SecretOrigin& origin = record.origin.*secret->origin;
        const BoundSecret& apart = kept.*secret->kept;
        const std::string server = secret->serverOf(record);
        origin = {};
        if (own && !value.empty()) {
            origin.inOperatorsFile = true;
        } else if (!apart.secret.empty()) {
            value.clear();
            // Settings that were not read never send a secret to the defaults.
            if (at.unused.empty() && !apart.server.empty() && apart.server == server) value = apart.secret;
            else origin.heldBack = heldBack(apart, at);
        } else if (!own && !value.empty()) {
            // Only the operator could have put it there, and the server too.
            if (at.operatorsFile) origin.inOperatorsFile = true;
            else origin.others = whoseSettings(at);
        }
        origin.last = value;
        origin.lastServer = server;
    }
}

void noteKeyFileSecret(Record& record, const KeyFileSecret& key)
{
    SecretOrigin& origin = record.origin.streamKey;
    if (!key.whose.empty()) {
        origin.others = key.whose;
        origin.last = record.streamKey;
    } else if (!key.notOwn.empty()) {
        origin.heldBack = SecretOrigin::HeldBack{{record.streamKey, {}}, key.notOwn, "shared station", key.file, false};
        record.streamKey.clear();
    }
    // In a station of the operator's own, the save that follows puts it
    // into the settings file.
}

void putSecretsInFile(const Record& record, Record& written, bool own)
{
    for (const Secret* secret : kSecrets)
        if (!own || !(record.origin.*secret->origin).others.empty()) written.*secret->value = {};
}

SecretChanges secretChanges(const Record& record, bool own, bool replacing)
{
    SecretChanges changes;
    for (const Secret* secret : kSecrets) {
        std::optional<BoundSecret> change = changeOf(record, *secret, replacing);
        // The station's own file holds what the record has of the
        // operator's: an entry kept apart would only come back once that is
        // cleared. One held back stays until another is typed.
        if (own) {
            const bool inTheFile = change ||
                                   (!(record.*secret->value).empty() && (record.origin.*secret->origin).others.empty());
            change = inTheFile ? std::optional<BoundSecret>(BoundSecret{}) : std::nullopt;
        }
        changes.*secret->change = std::move(change);
    }
    return changes;
}

void keepInFileWhatCannotLeave(const Record& record, Record& written, const std::string& refused)
{
    if (refused.empty()) return;
    for (const Secret* secret : kSecrets) {
        const SecretOrigin& origin = record.origin.*secret->origin;
        // Only what the file held: one typed since goes into no file others
        // may read.
        if (origin.inOperatorsFile && origin.others.empty() && record.*secret->value == origin.last)
            written.*secret->value = origin.last;
    }
}

void keepSecrets(const Record& record, const SecretChanges& changes, const std::string& refused, bool replacing,
                 SettingsSave& result)
{
    const bool own = result.notOwn.empty();
    for (const Secret* secret : kSecrets) {
        SecretOrigin& origin = record.origin.*secret->origin;
        if (changes.*secret->change) origin.notKept = own ? std::string{} : refused;
        settle(record, *secret, own, replacing);
    }
    if (own) return;

    // Where each secret is, in one line: the operator's kept apart, others'
    // where they put them.
    std::string kept;
    std::string others;
    bool runOnly = false;
    for (const Secret* secret : kSecrets) {
        const SecretOrigin& origin = record.origin.*secret->origin;
        if ((record.*secret->value).empty()) continue;
        if (!origin.others.empty()) {
            others += std::string(others.empty() ? "" : "; ") + secret->name + " from " + origin.others +
                      ": theirs, used in this run while you keep none for this station, and kept in no file";
            continue;
        }
        const std::string where = keptWhere(origin, result.file);
        (secret == &kStreamKey ? result.keyKeptIn : result.passwordKeptIn) = origin.inOperatorsFile ? result.file
                                                                             : origin.notKept.empty()
                                                                                 ? privateSecretsFile()
                                                                                 : std::string{};
        if (!origin.notKept.empty()) {
            runOnly = true;
            result.privateRefused = origin.notKept;
        }
        if (kept.empty()) kept = std::string(secret->name) + " " + where;
        else if (kept.ends_with(where))
            kept.insert(kept.size() - where.size() - 1, std::string(" and ") + secret->name);
        else kept += std::string("; ") + secret->name + " " + where;
    }
    if (kept.empty() && others.empty()) return;
    std::string notice = kept.empty() ? others : kept;
    notice += " — the station folder is shared: " + result.notOwn;
    if (runOnly) {
        const bool both = kept.find(" and ") != std::string::npos;
        notice += "; " + shown(privateSecretsFile()) + (both ? " cannot keep them: " : " cannot keep it: ") +
                  result.privateRefused;
    }
    if (!kept.empty() && !others.empty()) notice += "; " + others;
    result.secretsNotice = std::move(notice);
}

namespace {

std::string toSend(const Record& record, const Secret& secret)
{
    const std::string& value = record.*secret.value;
    if (!value.empty()) return value;
    const SecretOrigin& origin = record.origin.*secret.origin;
    const auto& heldBack = origin.heldBack;
    const std::string server = secret.serverOf(record);
    if (!heldBack || server.empty() || heldBack->kept.server != server) return {};
    if (heldBack->settingsUnused && server == origin.lastServer) return {};  // the defaults', not named here
    return heldBack->kept.secret;
}

std::optional<SecretNotSent> notSent(const Record& record, const Secret& secret, const std::string& named)
{
    if (!toSend(record, secret).empty()) return std::nullopt;
    const auto& heldBack = (record.origin.*secret.origin).heldBack;
    if (!heldBack) return std::nullopt;
    const std::string& typedFor = heldBack->kept.server;
    const std::string name = secret.name;
    const std::string to = named.empty() ? "no server" : named;
    if (!heldBack->from.empty()) {
        return SecretNotSent{
            name + " from your key file " + heldBack->from + " not sent to " + to +
                ": it goes only to a server you typed it for, and " + heldBack->why +
                " — type it in Settings to send it there",
            std::string("Key file's key not sent to ") + briefServer(to) + " (" + heldBack->shortly +
                "): type it in Settings",
        };
    }
    const std::string typed = typedFor.empty() ? "it was kept without the server it was typed for"
                                               : "it was typed for " + typedFor;
    const std::string forWhere = typedFor.empty() ? " of an unknown server" : " for " + briefServer(typedFor);
    return SecretNotSent{
        name + " not sent to " + to + ": " + typed + ", and " + heldBack->why + " — type it again to send it there",
        secret.brief + forWhere + " not sent to " + briefServer(to) + " (" + heldBack->shortly + "): type it again",
    };
}

}  // namespace

std::string streamKeyToSend(const Record& record) { return toSend(record, kStreamKey); }
std::string icecastPasswordToSend(const Record& record) { return toSend(record, kIcecastPassword); }

std::optional<SecretNotSent> streamKeyNotSent(const Record& record)
{
    const std::string server = keyServerOf(record);
    return notSent(record, kStreamKey, server.empty() ? record.serverURL : server);
}

std::optional<SecretNotSent> icecastPasswordNotSent(const Record& record)
{
    return notSent(record, kIcecastPassword, passwordServerOf(record));
}

}  // namespace ondaline
