#pragma once

// The stream key and the Icecast password: whose each is, where it is kept
// and where it may go. In a station of the operator's own they are in its
// settings file. Anywhere else the operator's are kept apart in their
// private file (models/private_secrets.h), each bound to the server it was
// typed for, and go to no other: the settings there are the station's other
// writers' to change, and only the operator's own acts (typing a secret,
// changing the server in this run's drawer) bind it anew. A secret others
// put in such a station's files is theirs: used while the operator keeps
// none there, in this run only, and copied into no file. One in a settings
// file only the operator may write is theirs, and so is the server it
// names. A secret leaving a file is kept apart before the file without it
// takes the old one's place.

#include "models/image_schedule_config.h"

#include <optional>
#include <string>

namespace ondaline {

// What a load found of the settings, as far as the secrets go.
struct SecretsAtLoad {
    std::string file;  // the settings file, which names the private file's entry
    // Why the station is not the operator's own ("the group staff may
    // change /st/Misc"); empty where it is.
    std::string notOwn;
    // Who owns the settings file, for the lines: "nobody's", "your".
    std::string owner;
    // Why the settings were not used, so that the defaults are: "is
    // missing", "does not decode"; empty where they were read.
    std::string unused;
    // The settings file was read and only the operator may write it: what
    // it holds, the server with the secrets, is theirs.
    bool operatorsFile = false;
};

// Puts the secrets into a record just loaded, `at` its settings: in a
// station of the operator's own, those its file holds, else those kept
// apart for it; elsewhere those kept apart, else others' in the file. A
// secret kept apart goes into the record only where settings that were
// read name its own server; else it is held back, and said at each use.
void takeSecrets(ImageScheduleConfig& record, const SecretsAtLoad& at);

// Whose the stream-key file's key is, and where it may go.
struct KeyFileSecret {
    std::string file;
    // Whose it is where not the operator's: "nobody's key file /st/…".
    std::string whose;
    // Why the station is not the operator's own; empty where it is.
    std::string notOwn;
};

// Notes the key just taken from the stream-key file into the record. In a
// station of the operator's own it is theirs, and the save that follows
// puts it into the settings file. Elsewhere another's is theirs, and the
// operator's own is held back, bound to no server, until they type it:
// the server the settings name there is others' to choose.
void noteKeyFileSecret(ImageScheduleConfig& record, const KeyFileSecret& key);

// What a save puts into the settings file for the record's secrets, in
// `written`: in a station of the operator's own, their own secrets; in
// any other, none. Others' secrets go into no file.
void putSecretsInFile(const ImageScheduleConfig& record, ImageScheduleConfig& written, bool own);

// What a save changes of the private file's entry: what the operator's own
// acts since the last load or save say (a secret typed or cleared, the
// server changed; the whole record carried to another station), and a
// secret of the operator's that leaves their settings file (`own`: the
// secrets go into the settings file).
SecretChanges secretChanges(const ImageScheduleConfig& record, bool own, bool replacing);

// Where a secret leaving a settings file of the operator's cannot be kept
// apart (`refused` says why): it stays in `written`, as it was.
void keepInFileWhatCannotLeave(const ImageScheduleConfig& record, ImageScheduleConfig& written,
                               const std::string& refused);

// After a save that made `changes` (the private file refused them where
// `refused` says why): the record's origin brought up to date and, in a
// station not the operator's own (`result.notOwn`), where the secrets are
// and why, in `result`.
void keepSecrets(const ImageScheduleConfig& record, const SecretChanges& changes, const std::string& refused,
                 bool replacing, SettingsSave& result);

// What Start sends: the record's secret, or one kept apart whose server the
// record names again; empty where none may go to that server.
std::string streamKeyToSend(const ImageScheduleConfig& record);
std::string icecastPasswordToSend(const ImageScheduleConfig& record);

// Why a secret kept apart is not sent to the server the record names now:
// a line for the log and a shorter one for the status line. Absent where
// one is sent, or none is held back.
struct SecretNotSent {
    std::string line;
    std::string status;
};
std::optional<SecretNotSent> streamKeyNotSent(const ImageScheduleConfig& record);
std::optional<SecretNotSent> icecastPasswordNotSent(const ImageScheduleConfig& record);

}  // namespace ondaline
