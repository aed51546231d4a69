#pragma once

// The stream key and the Icecast password: whose each is, where it is kept
// and where it may go. In a station of the operator's own they are in its
// settings file. Anywhere else the operator's are kept apart in their
// private file (models/private_secrets.h), each bound to the server it was
// typed for, and go to no other: the settings there are the station's other
// writers' to change, and only the operator's own acts (typing a secret,
// changing the server in this run's drawer) bind it anew. A secret others
// put in such a station's files is theirs: used while the operator keeps
// none there, in this run only, and copied into no file.

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
};

// Puts the secrets into a record just loaded, `at` its settings: in a
// station of the operator's own, those its file holds, else those kept
// apart for it; elsewhere those kept apart, else others' in the file. A
// secret kept apart goes into the record only where settings that were
// read name its own server; else it is held back, and said at each use.
void takeSecrets(ImageScheduleConfig& record, const SecretsAtLoad& at);

// Notes whose the key just taken from the stream-key file is: the
// operator's where the file is theirs and no one else may read it (it is
// then bound at its first use, the save that follows), else that of
// `whose` ("nobody's key file /st/…").
void noteKeyFileSecret(const ImageScheduleConfig& record, const std::string& whose);

// What a save puts into the settings file for the record's secrets, in
// `written`: in a station of the operator's own, their own secrets; in
// any other, none. Others' secrets go into no file.
void putSecretsInFile(const ImageScheduleConfig& record, ImageScheduleConfig& written, bool own);

// After a save of the record into `target`: the private file's entry
// changed as the operator's own acts since the last load or save say (a
// secret typed or cleared, the server changed; the whole record carried to
// another station), and nothing else of it; the record's origin brought up
// to date; and, in a station not the operator's own (`result.notOwn`),
// where the secrets are and why, in `result`.
void keepSecrets(const ImageScheduleConfig& record, const std::string& target, bool own, bool replacing,
                 SettingsSave& result);

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
