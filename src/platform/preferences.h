#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ondaline::platform {

// Read-only lookup in a preferences suite shared with other programs of the
// maker: the JSON object in <config home>/<suite>.json. Absent when the file
// is missing or unreadable, is not a JSON object, or holds no string under
// `key`. Read afresh on every call.
std::optional<std::string> sharedPreferenceString(std::string_view suite, std::string_view key);

// The file that holds a suite.
std::string sharedPreferencesFile(std::string_view suite);

}  // namespace ondaline::platform
