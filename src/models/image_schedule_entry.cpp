#include "models/image_schedule_entry.h"

#include <optional>

namespace ondaline {

namespace {

std::optional<std::int64_t> minutesOfDay(std::int64_t hour, std::int64_t minute)
{
    std::int64_t minutes;
    if (__builtin_mul_overflow(hour, 60, &minutes) || __builtin_add_overflow(minutes, minute, &minutes)) {
        return std::nullopt;
    }
    return minutes;
}

}  // namespace

std::string_view ImageScheduleEntry::dayName() const
{
    if (dayOfWeek < 1 || dayOfWeek > 7) return "?";
    return dayNames[static_cast<std::size_t>(dayOfWeek - 1)];
}

bool ImageScheduleEntry::isActive(std::int64_t hour, std::int64_t minute) const
{
    const auto now = minutesOfDay(hour, minute);
    const auto start = minutesOfDay(startHour, startMinute);
    const auto end = minutesOfDay(endHour, endMinute);
    if (!now || !start || !end) return false;
    if (*start < *end) return *start <= *now && *now < *end;
    return *now >= *start || *now < *end;
}

}  // namespace ondaline
