#include "models/settings_codec.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <tuple>

namespace ondaline {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

template <typename Record, typename T>
struct Field {
    const char* key;
    T Record::*member;
};

template <typename Record, typename T>
constexpr Field<Record, T> field(const char* key, T Record::*member)
{
    return {key, member};
}

// Each record's fields, in declaration order, under their JSON keys.
template <typename Record>
constexpr auto fieldsOf();

template <>
constexpr auto fieldsOf<NowPlayingConfig>()
{
    using R = NowPlayingConfig;
    return std::make_tuple(field("filePath", &R::filePath), field("delimiter", &R::delimiter),
                           field("multiRow", &R::multiRow), field("showPrefix", &R::showPrefix),
                           field("textX", &R::textX), field("textY", &R::textY), field("fontName", &R::fontName),
                           field("fontSize", &R::fontSize), field("textColorR", &R::textColorR),
                           field("textColorG", &R::textColorG), field("textColorB", &R::textColorB),
                           field("showBackground", &R::showBackground), field("bgX", &R::bgX), field("bgY", &R::bgY),
                           field("bgWidth", &R::bgWidth), field("bgHeight", &R::bgHeight),
                           field("bgColorR", &R::bgColorR), field("bgColorG", &R::bgColorG),
                           field("bgColorB", &R::bgColorB), field("bgAlpha", &R::bgAlpha));
}

template <>
constexpr auto fieldsOf<VisualizationConfig>()
{
    using R = VisualizationConfig;
    return std::make_tuple(field("enabled", &R::enabled), field("barCount", &R::barCount),
                           field("segmentCount", &R::segmentCount), field("segmentGap", &R::segmentGap),
                           field("posX", &R::posX), field("posY", &R::posY), field("width", &R::width),
                           field("height", &R::height), field("colorBottomR", &R::colorBottomR),
                           field("colorBottomG", &R::colorBottomG), field("colorBottomB", &R::colorBottomB),
                           field("colorTopR", &R::colorTopR), field("colorTopG", &R::colorTopG),
                           field("colorTopB", &R::colorTopB), field("opacity", &R::opacity),
                           field("sensitivity", &R::sensitivity));
}

template <>
constexpr auto fieldsOf<CrawlerConfig>()
{
    using R = CrawlerConfig;
    return std::make_tuple(field("enabled", &R::enabled), field("barX", &R::barX), field("barY", &R::barY),
                           field("barWidth", &R::barWidth), field("barHeight", &R::barHeight),
                           field("barColorR", &R::barColorR), field("barColorG", &R::barColorG),
                           field("barColorB", &R::barColorB), field("barAlpha", &R::barAlpha),
                           field("textColorR", &R::textColorR), field("textColorG", &R::textColorG),
                           field("textColorB", &R::textColorB), field("fontName", &R::fontName),
                           field("fontSize", &R::fontSize), field("speed", &R::speed),
                           field("uppercase", &R::uppercase));
}

template <>
constexpr auto fieldsOf<ImageScheduleConfig>()
{
    using R = ImageScheduleConfig;
    return std::make_tuple(field("defaultImagePath", &R::defaultImagePath), field("hourOffset", &R::hourOffset),
                           field("entries", &R::entries), field("nowPlaying", &R::nowPlaying),
                           field("visualization", &R::visualization), field("crawler", &R::crawler),
                           field("stationName", &R::stationName), field("serverURL", &R::serverURL),
                           field("streamKey", &R::streamKey), field("streamMode", &R::streamMode),
                           field("icecastHost", &R::icecastHost), field("icecastPort", &R::icecastPort),
                           field("icecastMount", &R::icecastMount), field("icecastPassword", &R::icecastPassword),
                           field("audioBitrate", &R::audioBitrate), field("audioSource", &R::audioSource),
                           field("appCaptureBundleID", &R::appCaptureBundleID),
                           field("appCaptureName", &R::appCaptureName),
                           field("audioOutputDeviceUID", &R::audioOutputDeviceUID));
}

// --- decoding: each reader answers absent for a value of another type ---

std::optional<std::string> readValue(const Json& value, std::string*)
{
    if (!value.is_string()) return std::nullopt;
    return value.get_ref<const std::string&>();
}

std::optional<bool> readValue(const Json& value, bool*)
{
    if (!value.is_boolean()) return std::nullopt;
    return value.get<bool>();
}

std::optional<double> readValue(const Json& value, double*)
{
    if (value.is_number_integer() && !value.is_number_unsigned()) return static_cast<double>(value.get<std::int64_t>());
    if (value.is_number_unsigned()) return static_cast<double>(value.get<std::uint64_t>());
    if (value.is_number_float()) return value.get<double>();
    return std::nullopt;
}

// A whole number within the signed 64-bit range, written with or without a
// fraction.
std::optional<std::int64_t> readValue(const Json& value, std::int64_t*)
{
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        if (n > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<std::int64_t>(n);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        // 2^63 is exact as a double; the range is [-2^63, 2^63).
        if (!std::isfinite(d) || std::trunc(d) != d || d < -9223372036854775808.0 || d >= 9223372036854775808.0) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

template <typename Record>
Record decodeRecord(const Json& object);

template <typename T>
concept OverlayRecord = std::is_same_v<T, NowPlayingConfig> || std::is_same_v<T, VisualizationConfig> ||
    std::is_same_v<T, CrawlerConfig>;

// An overlay record that is not an object takes its defaults.
template <OverlayRecord Record>
std::optional<Record> readValue(const Json& value, Record*)
{
    if (!value.is_object()) return std::nullopt;
    return decodeRecord<Record>(value);
}

// An entry is strict: all six members, each of its own type.
std::optional<ImageScheduleEntry> readEntry(const Json& value)
{
    if (!value.is_object()) return std::nullopt;
    auto member = [&](const char* key) -> const Json* {
        const auto found = value.find(key);
        return found == value.end() ? nullptr : &*found;
    };
    std::int64_t numbers[5];
    const char* keys[5] = {"dayOfWeek", "startHour", "startMinute", "endHour", "endMinute"};
    for (int i = 0; i < 5; ++i) {
        const Json* json = member(keys[i]);
        const auto number = json ? readValue(*json, static_cast<std::int64_t*>(nullptr)) : std::nullopt;
        if (!number) return std::nullopt;
        numbers[i] = *number;
    }
    const Json* path = member("imagePath");
    if (!path || !path->is_string()) return std::nullopt;
    return ImageScheduleEntry(numbers[0], numbers[1], numbers[2], numbers[3], numbers[4],
                              path->get_ref<const std::string&>());
}

// The schedule is all or nothing: one bad entry and the list is empty.
std::optional<std::vector<ImageScheduleEntry>> readValue(const Json& value, std::vector<ImageScheduleEntry>*)
{
    if (!value.is_array()) return std::nullopt;
    std::vector<ImageScheduleEntry> entries;
    entries.reserve(value.size());
    for (const auto& element : value) {
        auto entry = readEntry(element);
        if (!entry) return std::nullopt;
        entries.push_back(std::move(*entry));
    }
    return entries;
}

template <typename Record>
Record decodeRecord(const Json& object)
{
    Record record;
    std::apply(
        [&](const auto&... fields) {
            auto decodeOne = [&](const auto& f) {
                const auto found = object.find(f.key);
                if (found == object.end()) return;
                using T = std::remove_reference_t<decltype(record.*(f.member))>;
                if (auto value = readValue(*found, static_cast<T*>(nullptr))) record.*(f.member) = std::move(*value);
            };
            (decodeOne(fields), ...);
        },
        fieldsOf<Record>());
    return record;
}

// --- encoding: false for a value JSON cannot hold ---

bool writeValue(OrderedJson& out, const std::string& value) { return out = value, true; }
bool writeValue(OrderedJson& out, bool value) { return out = value, true; }
bool writeValue(OrderedJson& out, std::int64_t value) { return out = value, true; }

bool writeValue(OrderedJson& out, double value)
{
    if (!std::isfinite(value)) return false;
    out = value;
    return true;
}

template <typename Record>
bool encodeRecord(OrderedJson& out, const Record& record);

template <OverlayRecord Record>
bool writeValue(OrderedJson& out, const Record& record)
{
    return encodeRecord(out, record);
}

bool writeValue(OrderedJson& out, const std::vector<ImageScheduleEntry>& entries)
{
    out = OrderedJson::array();
    for (const auto& entry : entries) {
        out.push_back({{"dayOfWeek", entry.dayOfWeek},
                       {"startHour", entry.startHour},
                       {"startMinute", entry.startMinute},
                       {"endHour", entry.endHour},
                       {"endMinute", entry.endMinute},
                       {"imagePath", entry.imagePath}});
    }
    return true;
}

template <typename Record>
bool encodeRecord(OrderedJson& out, const Record& record)
{
    out = OrderedJson::object();
    return std::apply(
        [&](const auto&... fields) { return (writeValue(out[fields.key], record.*(fields.member)) && ...); },
        fieldsOf<Record>());
}

template <typename Record>
bool hasKey(std::string_view key)
{
    return std::apply([&](const auto&... fields) { return ((key == fields.key) || ...); }, fieldsOf<Record>());
}

bool isEntryKey(std::string_view key)
{
    for (const char* known : {"dayOfWeek", "startHour", "startMinute", "endHour", "endMinute", "imagePath"}) {
        if (key == known) return true;
    }
    return false;
}

// Our records nest three levels deep; anything nested past this is not a
// settings file, and refusing it before the document is built keeps a
// hostile file from costing hundreds of megabytes.
constexpr int maxNestingDepth = 64;

// Builds the document from the parser's events, keeping only the members
// the settings record knows, of a kind it can use (the rest, however large,
// is walked and dropped), and stops at the first level nested too deep. One
// bad element drops the whole schedule, so past the first, the schedule's
// elements are walked and dropped too.
class SettingsDocument final : public nlohmann::json_sax<Json> {
public:
    Json& root() { return root_; }

    bool null() override { return add(Json(nullptr)); }
    bool boolean(bool value) override { return add(Json(value)); }
    bool number_integer(number_integer_t value) override { return add(Json(value)); }
    bool number_unsigned(number_unsigned_t value) override { return add(Json(value)); }
    bool number_float(number_float_t value, const string_t&) override { return add(Json(value)); }
    bool string(string_t& value) override { return add(Json(std::move(value))); }
    bool binary(binary_t&) override { return add(Json()); }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

    bool key(string_t& name) override
    {
        if (skipping_ > 0) return true;
        const std::size_t level = open_.size();  // 1: the top-level object
        if (level == 1) top_ = name;
        bool known = false;
        if (level == 1) known = hasKey<ImageScheduleConfig>(name);
        else if (level == 2 && top_ == "nowPlaying") known = hasKey<NowPlayingConfig>(name);
        else if (level == 2 && top_ == "visualization") known = hasKey<VisualizationConfig>(name);
        else if (level == 2 && top_ == "crawler") known = hasKey<CrawlerConfig>(name);
        else if (level == 3 && top_ == "entries") known = isEntryKey(name);
        if (known) key_ = std::move(name);
        else dropNext_ = true;
        return true;
    }

private:
    // Places a value where the parser is: the document itself, the next
    // element of an array, or the member just named.
    Json* place(Json value)
    {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Json& parent = *open_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        Json& member = parent[key_];
        member = std::move(value);
        return &member;
    }

    bool add(Json value)
    {
        if (skipping_ > 0) return true;
        if (std::exchange(dropNext_, false)) return true;
        if (inSchedule()) {  // an entry that is not an object
            if (scheduleBad_) return true;
            scheduleBad_ = true;
        }
        place(std::move(value));
        return true;
    }

    bool open(Json container)
    {
        if (++depth_ > maxNestingDepth) return false;
        if (skipping_ > 0 || std::exchange(dropNext_, false) || (inSchedule() && scheduleBad_)) {
            ++skipping_;
            return true;
        }
        if (!wanted(container)) {
            // Its kind alone makes it unusable here, whatever its key: an
            // empty one of that kind says so to the decoder, and what it
            // holds, however large, is walked and dropped.
            if (inSchedule()) scheduleBad_ = true;
            place(std::move(container));
            ++skipping_;
            return true;
        }
        const bool schedule = open_.size() == 1 && key_ == "entries" && container.is_array();
        open_.push_back(place(std::move(container)));
        if (schedule) {
            schedule_ = open_.back();
            scheduleBad_ = false;
        }
        return true;
    }

    bool close()
    {
        --depth_;
        if (skipping_ > 0) {
            --skipping_;
            return true;
        }
        const Json* closing = open_.back();
        open_.pop_back();
        if (inSchedule() && !readEntry(*closing)) scheduleBad_ = true;
        return true;
    }

    bool inSchedule() const { return schedule_ && !open_.empty() && open_.back() == schedule_; }

    // Whether a container opened here can be part of the record: the top
    // level object, the schedule's array and its entry objects, and the
    // three overlay objects. Every other member is a number, a text or a
    // flag.
    bool wanted(const Json& container) const
    {
        switch (open_.size()) {
        case 0:
            return container.is_object();
        case 1:
            if (key_ == "entries") return container.is_array();
            return container.is_object() && (key_ == "nowPlaying" || key_ == "visualization" || key_ == "crawler");
        case 2:
            return inSchedule() && container.is_object();
        default:
            return false;
        }
    }

    Json root_;
    std::vector<Json*> open_;  // the containers being filled, outermost first
    std::string top_, key_;
    const Json* schedule_ = nullptr;  // the "entries" array
    bool scheduleBad_ = false;        // it holds an element that is not an entry
    bool dropNext_ = false;           // the value after an unknown member's name
    int skipping_ = 0;                // levels inside a dropped value
    int depth_ = 0;
};

}  // namespace

std::optional<DecodedSettings> decodeSettingsReporting(std::string_view json)
{
    SettingsDocument document;
    if (!Json::sax_parse(json.begin(), json.end(), &document, nlohmann::detail::input_format_t::json,
                         /*strict=*/true)) {
        return std::nullopt;
    }
    const Json& parsed = document.root();
    if (!parsed.is_object()) return std::nullopt;
    DecodedSettings decoded{decodeRecord<ImageScheduleConfig>(parsed), false};
    const auto entries = parsed.find("entries");
    decoded.scheduleDropped = entries != parsed.end() && !entries->is_null() &&
                              !readValue(*entries, static_cast<std::vector<ImageScheduleEntry>*>(nullptr));
    return decoded;
}

std::optional<ImageScheduleConfig> decodeSettings(std::string_view json)
{
    auto decoded = decodeSettingsReporting(json);
    if (!decoded) return std::nullopt;
    return std::move(decoded->config);
}

std::optional<std::string> encodeSettings(const ImageScheduleConfig& config)
{
    OrderedJson json;
    if (!encodeRecord(json, config)) return std::nullopt;
    return json.dump(-1, ' ', /*ensure_ascii=*/false, nlohmann::detail::error_handler_t::replace);
}

}  // namespace ondaline
