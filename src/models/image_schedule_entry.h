#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ondaline {

// One row of the weekly image schedule. Nothing is range-checked: values
// outside a clock's and a week's ranges simply never match.
struct ImageScheduleEntry {
    ImageScheduleEntry(std::int64_t day, std::int64_t fromHour, std::int64_t fromMinute, std::int64_t untilHour,
                       std::int64_t untilMinute, std::string image)
        : dayOfWeek(day), startHour(fromHour), startMinute(fromMinute), endHour(untilHour), endMinute(untilMinute),
          imagePath(std::move(image))
    {
    }

    std::int64_t dayOfWeek;  // 1 = Sunday … 7 = Saturday
    std::int64_t startHour;
    std::int64_t startMinute;
    std::int64_t endHour;
    std::int64_t endMinute;
    std::string imagePath;

    static constexpr std::array<std::string_view, 7> dayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                              "Thursday", "Friday", "Saturday"};

    // The day's name, or "?" outside 1 to 7.
    std::string_view dayName() const;

    // Whether the window holds the time of day. The start minute is inside,
    // the end minute is not; a window whose end is not after its start wraps
    // past midnight, and start == end covers the whole day. The weekday is
    // not looked at. Times whose minute count overflows are never active.
    bool isActive(std::int64_t hour, std::int64_t minute) const;

    bool operator==(const ImageScheduleEntry&) const = default;
};

}  // namespace ondaline
