#pragma once

// Reading the properties the sound server keeps of its clients and streams.

#include <pulse/proplist.h>

#include <charconv>
#include <cstdint>
#include <string>

namespace ondaline::platform::pulse {

inline std::string property(const pa_proplist* properties, const char* key)
{
    const char* value = pa_proplist_gets(properties, key);
    return value ? value : std::string();
}

// application.process.id; 0 when absent or not a process id.
inline std::int32_t processId(const pa_proplist* properties)
{
    const std::string text = property(properties, PA_PROP_APPLICATION_PROCESS_ID);
    std::int32_t pid = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), pid);
    return failure == std::errc() && end == text.data() + text.size() && pid > 0 ? pid : 0;
}

}  // namespace ondaline::platform::pulse
