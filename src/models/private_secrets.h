#pragma once

// The operator's own private file for the secrets of stations that are not
// their own: "$XDG_CONFIG_HOME/ondaline/secrets.json" (else
// "~/.config/ondaline/secrets.json"), in a folder only they may open, one
// entry for each settings file, by its path. Each secret there is bound to
// the server it was typed for (see models/server_url.h), and goes nowhere
// else. It is used only where the whole way to it is the operator's own, as
// a station's folder must be for a secret to go into its settings file.

#include <optional>
#include <string>

namespace ondaline {

// A secret and the server it goes to; a server left empty was not noted
// (an entry kept before secrets were bound), and the secret goes nowhere.
struct BoundSecret {
    std::string secret;
    std::string server;

    bool operator==(const BoundSecret&) const = default;
};

struct StationSecrets {
    BoundSecret streamKey;
    BoundSecret icecastPassword;

    bool operator==(const StationSecrets&) const = default;
};

// What a save changes in a station's entry: an absent secret is left as it
// is, whatever another program of the operator's put there meanwhile; an
// empty one is removed.
struct SecretChanges {
    std::optional<BoundSecret> streamKey;
    std::optional<BoundSecret> icecastPassword;

    bool empty() const { return !streamKey && !icecastPassword; }

    // Those that keep a secret, and those that take one out: a secret is
    // kept in its new place before it leaves the old one.
    SecretChanges additions() const { return only(true); }
    SecretChanges removals() const { return only(false); }

private:
    SecretChanges only(bool adding) const
    {
        auto pick = [&](const std::optional<BoundSecret>& change) {
            return change && change->secret.empty() != adding ? change : std::nullopt;
        };
        return {pick(streamKey), pick(icecastPassword)};
    }
};

// The private file's path.
std::string privateSecretsFile();

// The secrets kept for the settings file `settingsFile`; none where there
// are none, or where the private file is not the operator's own.
StationSecrets readPrivateSecrets(const std::string& settingsFile);

// Makes `changes` to the entry of `settingsFile`, the file written whole
// and atomically, one change at a time among the operator's programs; an
// entry left without secrets goes, and no file or folder is made for
// nothing. Empty when done, else why not: "the group staff may change
// /home/op".
std::string changePrivateSecrets(const std::string& settingsFile, const SecretChanges& changes);

}  // namespace ondaline
