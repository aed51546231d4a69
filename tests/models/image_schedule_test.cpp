#include "models/image_schedule_config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace ondaline;
using Clock = std::chrono::system_clock;

namespace {

// Sets the local time zone for one test (POSIX rules, so no zone database
// is needed) and restores the previous one afterwards.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope()
    {
        if (previous_) setenv("TZ", previous_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> previous_;
};

// The instant of a local wall-clock time in the current zone.
Clock::time_point local(int year, int month, int day, int hour, int minute)
{
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_isdst = -1;
    return Clock::from_time_t(std::mktime(&fields));
}

ImageScheduleConfig schedule(std::vector<ImageScheduleEntry> entries, std::string defaultImage = "")
{
    ImageScheduleConfig config;
    config.entries = std::move(entries);
    config.defaultImagePath = std::move(defaultImage);
    return config;
}

// 2026-12-07 is a Monday (day 2).
constexpr int year = 2026, month = 12, monday = 7;

}  // namespace

TEST(ImageScheduleEntry, WindowIncludesItsStartAndExcludesItsEnd)
{
    const ImageScheduleEntry morning(2, 6, 0, 10, 0, "/m");
    EXPECT_TRUE(morning.isActive(6, 0));
    EXPECT_TRUE(morning.isActive(9, 59));
    EXPECT_FALSE(morning.isActive(10, 0));
    EXPECT_FALSE(morning.isActive(5, 59));
}

TEST(ImageScheduleEntry, WindowsWrapPastMidnightAndEqualEndsCoverTheDay)
{
    const ImageScheduleEntry night(2, 22, 0, 2, 0, "/n");
    EXPECT_TRUE(night.isActive(23, 30));
    EXPECT_TRUE(night.isActive(1, 30));
    EXPECT_FALSE(night.isActive(2, 0));
    EXPECT_FALSE(night.isActive(21, 59));

    for (int h : {0, 12}) {
        const ImageScheduleEntry allDay(2, h, 0, h, 0, "/d");
        for (int hour = 0; hour < 24; ++hour) EXPECT_TRUE(allDay.isActive(hour, 17));
    }
    EXPECT_FALSE(ImageScheduleEntry(2, 25, 0, 26, 0, "/x").isActive(1, 0));
}

TEST(ImageScheduleEntry, HostileTimesAreNeverActiveAndNeverOverflow)
{
    EXPECT_FALSE(ImageScheduleEntry(2, INT64_MAX, 0, 1, 0, "/x").isActive(0, 30));
    EXPECT_FALSE(ImageScheduleEntry(2, 0, 0, INT64_MIN, 0, "/x").isActive(0, 30));
    EXPECT_FALSE(ImageScheduleEntry(2, 1, INT64_MAX, 1, 0, "/x").isActive(0, 30));
    EXPECT_FALSE(ImageScheduleEntry(2, 0, 0, 1, 0, "/x").isActive(INT64_MAX, 0));
    // Large but computable values take part in the plain arithmetic.
    EXPECT_TRUE(ImageScheduleEntry(2, -1000000, 0, 1, 0, "/x").isActive(0, 30));
}

TEST(ImageSchedule, FirstActiveEntryOfTheWeekdayWinsElseTheDefault)
{
    ZoneScope zone("UTC0");
    const auto config = schedule({ImageScheduleEntry(3, 0, 0, 0, 0, "/tuesday"),
                                  ImageScheduleEntry(2, 8, 0, 12, 0, "/first"),
                                  ImageScheduleEntry(2, 9, 0, 10, 0, "/second")},
                                 "/default");
    EXPECT_EQ(config.currentImagePath(local(year, month, monday, 9, 30)), "/first");
    EXPECT_EQ(config.currentImagePath(local(year, month, monday, 12, 0)), "/default");
    EXPECT_EQ(config.currentImagePath(local(year, month, monday + 1, 12, 0)), "/tuesday");

    EXPECT_EQ(schedule({}).currentImagePath(local(year, month, monday, 9, 0)), std::nullopt);
    EXPECT_EQ(schedule({}, "/d").currentImagePath(local(year, month, monday, 9, 0)), "/d");
    // An entry for day 0 or 8 never matches; an active empty path is answered as it is.
    EXPECT_EQ(schedule({ImageScheduleEntry(0, 0, 0, 0, 0, "/x"), ImageScheduleEntry(8, 0, 0, 0, 0, "/x"),
                        ImageScheduleEntry(2, 0, 0, 0, 0, "")},
                       "/d")
                  .currentImagePath(local(year, month, monday, 9, 0)),
              "");
}

TEST(ImageSchedule, WrappingWindowBelongsToItsOwnWeekdayOnly)
{
    ZoneScope zone("UTC0");
    const auto config = schedule({ImageScheduleEntry(2, 22, 0, 2, 0, "/monday-night")});
    EXPECT_EQ(config.currentImagePath(local(year, month, monday, 1, 0)), "/monday-night");
    EXPECT_EQ(config.currentImagePath(local(year, month, monday, 23, 0)), "/monday-night");
    EXPECT_EQ(config.currentImagePath(local(year, month, monday + 1, 1, 0)), std::nullopt);
}

TEST(ImageSchedule, HourOffsetCrossesDayAndWeekBoundaries)
{
    ZoneScope zone("EST5");
    auto config = schedule({ImageScheduleEntry(1, 1, 0, 2, 0, "/sunday-1am"),
                            ImageScheduleEntry(7, 23, 0, 0, 0, "/saturday-late")});
    config.hourOffset = 2;  // Saturday 23:30 looks up Sunday 01:30
    EXPECT_EQ(config.currentImagePath(local(2026, 12, 12, 23, 30)), "/sunday-1am");
    config.hourOffset = -1;  // Sunday 00:30 looks up Saturday 23:30
    EXPECT_EQ(config.currentImagePath(local(2026, 12, 13, 0, 30)), "/saturday-late");
    config.hourOffset = 24 * 7;  // a week later is the same weekday and time
    EXPECT_EQ(config.currentImagePath(local(2026, 12, 13, 1, 15)), "/sunday-1am");
}

TEST(ImageSchedule, HourOffsetIsElapsedTimeAcrossADaylightSavingChange)
{
    // Central Europe: on 2026-03-29 the clocks go from 02:00 to 03:00.
    ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    auto config = schedule({ImageScheduleEntry(1, 2, 0, 3, 0, "/two"), ImageScheduleEntry(1, 3, 0, 4, 0, "/three")});
    config.hourOffset = 2;
    // 00:30 + 2 h of elapsed time is 03:30 on the wall clock that night.
    EXPECT_EQ(config.currentImagePath(local(2026, 3, 29, 0, 30)), "/three");
    config.hourOffset = 0;
    EXPECT_EQ(config.currentImagePath(local(2026, 3, 29, 3, 30)), "/three");

    // On 2026-10-25 03:00 goes back to 02:00: 01:30 + 2 h is 02:30 again.
    config.entries = {ImageScheduleEntry(1, 2, 0, 3, 0, "/two")};
    config.hourOffset = 2;
    EXPECT_EQ(config.currentImagePath(local(2026, 10, 25, 1, 30)), "/two");
}

TEST(ImageSchedule, OffsetsBeyondTheCalendarFallBackToTheCurrentTime)
{
    ZoneScope zone("UTC0");
    auto config = schedule({ImageScheduleEntry(2, 9, 0, 10, 0, "/now")}, "/default");
    for (std::int64_t offset : {INT64_MAX, INT64_MIN, INT64_MAX / 3600, INT64_MIN / 3600 + 1}) {
        config.hourOffset = offset;
        EXPECT_EQ(config.currentImagePath(local(year, month, monday, 9, 30)), "/now") << offset;
    }
}
