// The program's rules that need no widget: the meter's scale and its report
// filter, track names, the service table, the output pop-up's items, the
// song file's text and whose settings choose the application captured.
// Built without Qt, so the sanitizer builds run them too.

#include "app/settings_choices.h"
#include "app/song_file.h"
#include "app/source_callbacks.h"
#include "app/streaming_service.h"
#include "models/image_schedule_config.h"
#include "models/station_path.h"
#include "support/run_folder.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

using namespace ondaline;
using namespace ondaline::app;

TEST(SourceRules, MeterScaleTrackNamesAndTheReportFilter)
{
    EXPECT_EQ(meterTarget(1.0f), 18.0f);
    EXPECT_NEAR(meterTarget(0.125f), -0.0618f, 1e-3f);
    EXPECT_NEAR(meterTarget(0), -182.0f, 1e-3f);
    EXPECT_EQ(trackName("Song.Name.flac"), "Song.Name");
    // A name is shown and drawn on one line, with its control characters as marks.
    EXPECT_EQ(trackName("x\nOndaline: Forged\x1b[2J.flac"), "x␊Ondaline: Forged␛[2J");

    // Level reports go on only when they would move a needle: steps under
    // 0.1 dB are dropped, but they add up against the last one let through.
    MeterReportFilter reports;
    const auto t = MeterReportFilter::Clock::now();
    EXPECT_TRUE(reports.pass(0, 0, t));  // the first, whatever it holds
    EXPECT_FALSE(reports.pass(0, 0, t));
    EXPECT_TRUE(reports.pass(0.5f, 0, t));
    EXPECT_FALSE(reports.pass(0.503f, 0, t));
    EXPECT_FALSE(reports.pass(0.5055f, 0, t));
    EXPECT_TRUE(reports.pass(0.506f, 0, t));                                     // 0.1 dB from 0.5
    EXPECT_TRUE(reports.pass(0.506f, 0.001f, t) && reports.pass(0.506f, 0, t));  // from and back to silence
    EXPECT_TRUE(reports.pass(std::nanf(""), 0, t));
    reports.reset();
    EXPECT_TRUE(reports.pass(0.506f, 0, t));  // a source shown again moves the needles at once
    // A steady level still passes now and then: the source is alive.
    EXPECT_FALSE(reports.pass(0.506f, 0, t + MeterReportFilter::keepAlive / 2));
    EXPECT_TRUE(reports.pass(0.506f, 0, t + MeterReportFilter::keepAlive));
}

TEST(StreamingRules, TableEdges)
{
    EXPECT_EQ(engineBitrate(streamingService(streamModeNamed("kick")), 96000), 128000);
    EXPECT_EQ(engineBitrate(streamingService(streamModeNamed("rtmp")), 96000), 96000);  // plain RTMP passes it
    EXPECT_EQ(streamModeNamed("YouTube"), StreamMode::rtmp);                            // matched exactly
    EXPECT_EQ(streamingService(streamModeNamed("YouTube")).statusName, "RTMP");
    EXPECT_EQ(audioSourceNamed("TCP"), AudioSourceKind::local);
    EXPECT_TRUE((sourceFormat(AudioSourceKind::local, {PCMFormat{48000, 1}, {}}) == PCMFormat{48000, 1}));
    EXPECT_TRUE((sourceFormat(AudioSourceKind::local, {}) == PCMFormat{44100, 2}));  // the player not set up
    EXPECT_TRUE(!icecastPort(-1) && !icecastPort(65536) && icecastPort(65535) == 65535);
}

// The saved output device stays the chosen item, marked while it is not
// there; of two devices with one uid the first is the one.
TEST(SettingsRules, OutputPopupKeepsTheSavedDevice)
{
    const std::vector<platform::OutputDevice> devices{{"a", "Speakers", 1}, {"b", "Headphones", 2}, {"b", "Twin", 3}};
    const OutputChoices there = outputChoices(devices, "b", "Headphones");
    EXPECT_EQ(there.titles, (std::vector<std::string>{"System Default", "Speakers", "Headphones", "Twin"}));
    EXPECT_EQ(there.selected, 2);
    const OutputChoices gone = outputChoices({devices[0]}, "b", "Headphones");
    EXPECT_EQ(gone.titles, (std::vector<std::string>{"System Default", "Speakers", "Headphones (not connected)"}));
    EXPECT_EQ(gone.uids, (std::vector<std::string>{"", "a", "b"}));
    EXPECT_EQ(gone.selected, 2);
    EXPECT_EQ(outputChoices({}, "usb-dac", "").titles.back(), "usb-dac (not connected)");  // never seen: its uid
    EXPECT_EQ(outputChoices(devices, "", "").selected, 0);
    EXPECT_EQ(outputChoices(devices, "", "").titles.size(), 4u);
}

// The application the settings name is captured unasked only where no one
// but us and root could have changed them; elsewhere it waits for a pick.
TEST(SongFileRules, FileTextBecomesTheTitle)
{
    using T = std::optional<SongTitle>;
    auto same = [](const T& a, const T& b) {
        return a.has_value() == b.has_value() && (!a || (a->display == b->display && a->icecast == b->icecast));
    };
    EXPECT_TRUE(same(songTitleFromText("A\tB\n", "\t", false), SongTitle{"A - B", "A - B"}));
    EXPECT_TRUE(same(songTitleFromText("A\tB\n", "\t", true), SongTitle{"A\nB", "A - B"}));
    EXPECT_TRUE(same(songTitleFromText("A, B", ",", false), SongTitle{"A -  B", "A -  B"}));  // fields keep spaces
    EXPECT_TRUE(same(songTitleFromText("A,B,", ",", false), SongTitle{"A - B - ", "A - B - "}));
    EXPECT_TRUE(same(songTitleFromText("A\tB\t", "\t", false), SongTitle{"A - B", "A - B"}));  // trimmed first
    EXPECT_TRUE(same(songTitleFromText(" \n\t", "\t", false), T{}));
    EXPECT_TRUE(same(songTitleFromText("A\xff", "\t", false), T{}));
    // Rows stay rows; nothing else in the file reaches a screen raw.
    EXPECT_TRUE(same(songTitleFromText("\x1b]0;x\x07"
                                       "A\tB\rC\nD",
                                       "\t", true),
                     SongTitle{"␛]0;x␇A\nB␍C\nD", "␛]0;x␇A - B␍C\nD"}));

    // Only a small regular file is read; a FIFO returns at once.
    const std::string dir = ondaline::test::runFile("song"), fifo = dir + "/fifo", big = dir + "/big.txt",
                      limit = dir + "/limit.txt";
    std::filesystem::create_directories(dir);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(big) << std::string(2 * maxSongFileBytes, 'x');
    std::ofstream(limit) << std::string(maxSongFileBytes, 'x');
    auto read = [](const std::string& path) { return readSongFile(path, {}).contents; };
    EXPECT_TRUE(!read(fifo) && !read(big) && !read(dir));
    EXPECT_EQ(read(limit)->size(), maxSongFileBytes);
    std::filesystem::remove_all(dir);
}
