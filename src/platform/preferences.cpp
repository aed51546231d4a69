#include "platform/preferences.h"

#include "platform/file_rights/files.h"

#include <nlohmann/json.hpp>

namespace ondaline::platform {

std::optional<std::string> sharedPreferenceString(std::string_view suite, std::string_view key)
{
    const auto text = readFile(sharedPreferencesFile(suite));
    if (!text) return std::nullopt;
    const auto json = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) return std::nullopt;
    const auto found = json.find(key);
    if (found == json.end() || !found->is_string()) return std::nullopt;
    return found->get_ref<const std::string&>();
}

std::string sharedPreferencesFile(std::string_view suite)
{
    return configHomeDirectory() + "/" + std::string(suite) + ".json";
}

}  // namespace ondaline::platform
