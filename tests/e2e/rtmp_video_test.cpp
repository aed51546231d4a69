// The video track nginx records: H.264 Main 1280x720 at 24000/1001 without
// B-frames, key frames at the fixed slots, AAC beside it.

#include "support/peer_env.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using namespace ondaline::test;
namespace fs = std::filesystem;

TEST(RTMPVideo, RecordingCarriesH264MainWithKeyFramesAtTheirSlots)
{
    const auto env = loadPeerEnv("rtmp");
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    const auto run = runCommand("timeout 120 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                env.at("ONDALINE_RTMP_URL") + " --key video --seconds 6 --source tone");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::string file;
    for (const auto& entry : fs::directory_iterator(env.at("ONDALINE_RTMP_RECORD_DIR"))) {
        if (entry.path().filename().string().starts_with("video-")) file = entry.path();
    }
    ASSERT_FALSE(file.empty());

    EXPECT_EQ(runCommand("ffprobe -v error -select_streams v:0 -show_entries "
                         "stream=codec_name,profile,width,height,r_frame_rate,has_b_frames -of default=noprint_wrappers=1 " +
                         shellQuote(file)).output,
              "codec_name=h264\nprofile=Main\nwidth=1280\nheight=720\nhas_b_frames=0\nr_frame_rate=24000/1001\n");
    EXPECT_EQ(runCommand("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 " +
                         shellQuote(file)).output,
              "aac\n");
    EXPECT_EQ(runCommand("ffmpeg -v error -i " + shellQuote(file) + " -f null -").output, "");

    // Key packets: the first at once, then counter values 48, 96: packets 47, 95.
    std::istringstream packets(runCommand("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 " +
                                          shellQuote(file)).output);
    std::vector<int> keys;
    int index = 0;
    for (std::string line; std::getline(packets, line); ++index) {
        if (line.find('K') != std::string::npos) keys.push_back(index);
    }
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(std::vector<int>(keys.begin(), keys.begin() + 3), (std::vector<int>{0, 47, 95}));
    EXPECT_GE(index, 130);  // about 24 frames a second for the six seconds
}
