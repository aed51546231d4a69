#pragma once

// The settings file's JSON. Decoding is tolerant key by key: a missing, null
// or wrongly typed member takes that field's default, an overlay member that
// is not an object takes that record's defaults, and the schedule is all or
// nothing. Integers must be whole JSON numbers within 64 bits (7 and 7.0,
// not 7.5 or "7"). Unknown members are ignored.

#include "models/image_schedule_config.h"

#include <optional>
#include <string>
#include <string_view>

namespace ondaline {

// Absent when the text is not JSON (nesting deeper than 64 levels counts as
// not JSON) or its top level is not an object. Members the record does not
// know are skipped while parsing, not kept.
std::optional<ImageScheduleConfig> decodeSettings(std::string_view json);

// The same, telling whether a present schedule was dropped because one of
// its elements (or the member itself) did not decode: the file then holds
// more than the record, and must not be overwritten unseen.
struct DecodedSettings {
    ImageScheduleConfig config;
    bool scheduleDropped = false;
};
std::optional<DecodedSettings> decodeSettingsReporting(std::string_view json);

// Compact JSON with every field in declaration order; absent when a number
// is not finite (JSON cannot hold it). Invalid UTF-8 in a text is replaced
// by U+FFFD rather than failing the save.
std::optional<std::string> encodeSettings(const ImageScheduleConfig& config);

}  // namespace ondaline
