#pragma once

// The operator's own private file for the secrets of stations that are not
// their own: "$XDG_CONFIG_HOME/ondaline/secrets.json" (else
// "~/.config/ondaline/secrets.json"), in a folder only they may open, one
// entry for each settings file, by its path. It is used only where the whole
// way to it is the operator's own, as a station's folder must be for a
// secret to go into its settings file.

#include <string>

namespace ondaline {

struct StationSecrets {
    std::string streamKey;
    std::string icecastPassword;

    bool empty() const { return streamKey.empty() && icecastPassword.empty(); }
    bool operator==(const StationSecrets&) const = default;
};

// The private file's path.
std::string privateSecretsFile();

// The secrets kept for the settings file `settingsFile`; none where there
// are none, or where the private file is not the operator's own.
StationSecrets readPrivateSecrets(const std::string& settingsFile);

// Keeps `secrets` for `settingsFile`, written whole and atomically; without
// either secret, its entry goes, and no file or folder is made for nothing.
// Empty when kept, else why not: "the group staff may change /home/op".
std::string keepPrivateSecrets(const std::string& settingsFile, const StationSecrets& secrets);

}  // namespace ondaline
