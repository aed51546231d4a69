// The video track nginx records: H.264 Main 1280x720 at 24000/1001 without
// B-frames, key frames at the fixed slots, AAC beside it.

#include "support/fault_relay.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"
#include "support/run_folder.h"
#include "support/tone_analysis.h"

#include "media/frame_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace ondaline::test;
namespace fs = std::filesystem;

TEST(RTMPVideo, RecordingCarriesH264MainWithKeyFramesAtTheirSlots)
{
    const auto env = loadPeerEnv("rtmp");
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    const auto run = runCommand("timeout 120 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                env.at("ONDALINE_RTMP_URL") + " --key video --seconds 6 --source tone");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string file = recordingOf(env.at("ONDALINE_RTMP_RECORD_DIR"), "video");
    ASSERT_FALSE(file.empty());

    EXPECT_EQ(
        runCommand("ffprobe -v error -select_streams v:0 -show_entries "
                   "stream=codec_name,profile,width,height,r_frame_rate,has_b_frames -of default=noprint_wrappers=1 " +
                   shellQuote(file))
            .output,
        "codec_name=h264\nprofile=Main\nwidth=1280\nheight=720\nhas_b_frames=0\nr_frame_rate=24000/1001\n");
    EXPECT_EQ(runCommand("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 " +
                         shellQuote(file))
                  .output,
              "aac\n");
    EXPECT_EQ(decodeErrors(file), "");

    // Key packets: the first at once, then the slots of counter values 48
    // and 96, frames 47 and 95 (1.960 s and 3.962 s in). A tick missed under
    // load is skipped, not shifted, and a key slot skipped over passes its
    // key frame to the first frame past it: the slots are told by time.
    std::istringstream packets(runCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,flags "
                                          "-of csv=p=0 " +
                                          shellQuote(file))
                                   .output);
    std::vector<std::pair<double, bool>> timesAndKeys;
    for (std::string line; std::getline(packets, line);) {
        timesAndKeys.emplace_back(std::atof(line.c_str()), line.find('K') != std::string::npos);
    }
    const double frame = 1001.0 / 24000;
    for (const int slot : {0, 47, 95}) {
        const auto first = std::find_if(timesAndKeys.begin(), timesAndKeys.end(),
                                        [&](const auto& packet) { return packet.first > slot * frame - 0.0015; });
        ASSERT_NE(first, timesAndKeys.end()) << slot;
        EXPECT_TRUE(first->second) << "no key frame at the slot of frame " << slot << ", " << first->first << " s";
    }
    EXPECT_EQ(std::count_if(timesAndKeys.begin(), timesAndKeys.end(),
                            [&](const auto& packet) { return packet.second && packet.first < 130 * frame; }),
              3);                          // and none between
    EXPECT_GE(timesAndKeys.size(), 130u);  // about 24 frames a second for the six seconds
}

namespace {

// One decoded frame of `file` at `seconds`, as RGB (BT.709 limited range in).
std::vector<std::uint8_t> frameAt(const std::string& file, double seconds)
{
    std::vector<std::uint8_t> rgb(1280 * 720 * 3);
    FILE* pipe = popen(("ffmpeg -v error -ss " + std::to_string(seconds) + " -i " + shellQuote(file) +
                        " -frames:v 1 -vf scale=in_color_matrix=bt709:in_range=tv,format=rgb24 -f rawvideo -")
                           .c_str(),
                       "r");
    const std::size_t n = pipe ? std::fread(rgb.data(), 1, rgb.size(), pipe) : 0;
    if (pipe) pclose(pipe);
    rgb.resize(n);
    return rgb;
}

double lumaPSNR(const std::vector<std::uint8_t>& rgb, const ondaline::Bytes& bgra)
{
    double squared = 0;
    const std::size_t pixels = rgb.size() / 3;
    for (std::size_t i = 0; i < pixels; ++i) {
        const double a = 0.2126 * rgb[3 * i] + 0.7152 * rgb[3 * i + 1] + 0.0722 * rgb[3 * i + 2];
        const double b = 0.2126 * bgra[4 * i + 2] + 0.7152 * bgra[4 * i + 1] + 0.0722 * bgra[4 * i];
        squared += (a - b) * (a - b);
    }
    const double mse = squared / static_cast<double>(pixels);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Writes a binary PPM of width × height whose bytes come from `next`.
template <typename Next>
std::string writePPM(const std::string& name, int width, int height, Next next)
{
    const std::string path = runFile(name);
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << ' ' << height << "\n255\n";
    for (int i = 0; i < width * height * 3; ++i) out.put(char(next(i)));
    return path;
}

// Every slice's NAL header and frame_num as the header tracer prints them,
// each IDR slice's idr_pic_id, and the SPS's picture order type and
// frame_num width.
struct SliceHeaders {
    std::vector<std::pair<int, int>> slices;  // (NAL header byte, frame_num)
    std::vector<int> idrPicIds;
    int pocType = -1, frameNumBits = 0;
};

SliceHeaders sliceHeaders(const std::string& file)
{
    std::istringstream lines(runCommand("ffmpeg -v debug -i " + shellQuote(file) +
                                        " -map 0:v -c copy -bsf:v trace_headers -f null - 2>&1")
                                 .output);
    SliceHeaders out;
    int nalType = 0, refIdc = 0;
    const auto value = [](const std::string& line) { return std::stoi(line.substr(line.rfind('=') + 1)); };
    for (std::string line; std::getline(lines, line);) {
        if (line.find("[trace_headers") == std::string::npos) continue;
        if (const auto at = line.find("nal_unit_type: "); at != std::string::npos) {
            nalType = std::stoi(line.substr(at + 15));
            refIdc = std::stoi(line.substr(line.find("nal_ref_idc: ") + 13));
        } else if (line.find(" frame_num ") != std::string::npos && (nalType == 1 || nalType == 5)) {
            out.slices.emplace_back(refIdc << 5 | nalType, value(line));
        } else if (line.find(" idr_pic_id ") != std::string::npos && nalType == 5) {
            out.idrPicIds.push_back(value(line));
        } else if (line.find(" pic_order_cnt_type ") != std::string::npos) {
            out.pocType = value(line);
        } else if (line.find(" log2_max_frame_num_minus4 ") != std::string::npos) {
            out.frameNumBits = value(line) + 4;
        }
    }
    return out;
}

}  // namespace

TEST(RTMPVideo, PictureArrivesAsTheRendererDrawsIt)
{
    const auto env = loadPeerEnv("rtmp");
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    const std::string image = writePPM("solid.ppm", 1920, 1080, [](int i) {
        constexpr std::uint8_t rgb[3] = {30, 160, 90};
        return rgb[i % 3];
    });
    const auto run = runCommand("timeout 120 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                env.at("ONDALINE_RTMP_URL") + " --key picture --seconds 9 --source tone --image " +
                                shellQuote(image) + " --song 'Radio Ondes\\nLate Night Jazz'");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Ondaline: Loaded video image — solid.ppm"), std::string::npos);
    const std::string file = recordingOf(env.at("ONDALINE_RTMP_RECORD_DIR"), "picture");
    ASSERT_FALSE(file.empty());
    const auto decoded = frameAt(file, 2.5);
    ASSERT_EQ(decoded.size(), 1280u * 720 * 3);

    // The solid background comes out its colour.
    for (const std::size_t pixel : {std::size_t(0), std::size_t(640 + 200 * 1280), std::size_t(1280 * 720 - 1)}) {
        EXPECT_NEAR(decoded[3 * pixel], 30, 6);
        EXPECT_NEAR(decoded[3 * pixel + 1], 160, 6);
        EXPECT_NEAR(decoded[3 * pixel + 2], 90, 6);
    }

    // The same picture drawn here, text and all.
    ondaline::media::FrameRenderer renderer(1280, 720);
    ASSERT_TRUE(renderer.loadBackground(image));
    ondaline::media::OverlayInputs inputs;
    inputs.songText = "Radio Ondes\nLate Night Jazz";
    const auto expected = renderer.render(inputs);
    EXPECT_GE(lumaPSNR(decoded, *expected), 35.0);

    // Without bars or crawler the picture is the same every tick: once the
    // second key frame has settled, each frame is a bare "nothing moved" of
    // a few hundred bytes at most, most of them copies of the previous one.
    // The groups after it are that group sent again, frame for frame. A tick
    // missed under load is skipped, by design, and leaves its group short:
    // such a group is told by the gap in its times and not compared.
    std::istringstream packets(
        runCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,size,flags -of csv=p=0 " +
                   shellQuote(file))
            .output);
    struct Group {
        std::vector<int> sizes;
        bool whole = true;
    };
    std::vector<int> settled;
    std::vector<Group> groups;
    const double frame = 1001.0 / 24000;
    double last = 0;
    int keyFrames = 0, sinceKey = 0;
    for (std::string line; std::getline(packets, line); ++sinceKey) {
        double time = 0;
        int size = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%d", &time, &size), 2) << line;
        const bool gap = !groups.empty() && time - last > 1.5 * frame;
        if (line.find('K') != std::string::npos) {
            // Ticks missed just before a key frame cut the group before it
            // short, and move the key frame off its slot, which leaves its
            // own group short too.
            if (gap) groups.back().whole = false;
            ++keyFrames, sinceKey = 0, groups.emplace_back();
            groups.back().whole = !gap;
        }
        if (keyFrames == 2 && sinceKey >= 4) settled.push_back(size);
        if (!groups.empty() && sinceKey > 0) {
            groups.back().sizes.push_back(size);
            if (gap) groups.back().whole = false;
        }
        last = time;
    }
    // The last group is cut by the end of the run.
    std::vector<const Group*> compared;
    for (std::size_t g = 1; g + 1 < groups.size(); ++g) {
        if (groups[g].whole) compared.push_back(&groups[g]);
    }
    ASSERT_GE(compared.size(), 2u) << "of " << groups.size() << " groups";
    for (std::size_t g = 1; g < compared.size(); ++g) {
        EXPECT_EQ(compared[g]->sizes, compared[0]->sizes) << "whole group " << g;
    }
    ASSERT_GE(settled.size(), 20u);
    EXPECT_LT(*std::max_element(settled.begin(), settled.end()), 400);
    const auto copies = std::count_if(settled.begin(), settled.end(), [](int size) { return size < 40; });
    EXPECT_GE(copies * 2, std::ssize(settled));
    fs::remove(image);

    // Copies of the unchanged picture among libx264's frames: numbered
    // without a gap up to each key frame, all of them references, so the
    // picture order, which follows frame_num, rises; strictly decodable, and
    // every frame the picture. A tick that came late under load leaves a
    // gap in the timestamps, so the frames are decoded as they were sent,
    // not filled up to a constant rate.
    const SliceHeaders headers = sliceHeaders(file);
    EXPECT_EQ(headers.pocType, 2);
    ASSERT_GE(headers.frameNumBits, 4);
    ASSERT_GE(headers.slices.size(), 90u);
    int nextFrameNum = 0;
    for (std::size_t i = 0; i < headers.slices.size(); ++i) {
        const auto [header, frameNum] = headers.slices[i];
        if ((header & 0x1F) == 5) nextFrameNum = 0;
        EXPECT_NE(header >> 5, 0) << "slice " << i;
        EXPECT_EQ(frameNum, nextFrameNum % (1 << headers.frameNumBits)) << "slice " << i;
        ++nextFrameNum;
    }
    ASSERT_EQ(headers.idrPicIds.size(), groups.size());
    for (std::size_t i = 1; i < headers.idrPicIds.size(); ++i) {
        EXPECT_NE(headers.idrPicIds[i], headers.idrPicIds[i - 1]) << "key frame " << i;
    }
    const std::string complaints = runFile("decode-errors.txt");
    FILE* pipe = popen(
        ("ffmpeg -v error -xerror -err_detect explode -i " + shellQuote(file) +
         " -map 0:v -fps_mode passthrough -vf scale=in_color_matrix=bt709:in_range=tv,format=rgb24 -f rawvideo - 2>" +
         shellQuote(complaints))
            .c_str(),
        "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::uint8_t> rgb(1280 * 720 * 3);
    std::size_t frames = 0;
    while (std::fread(rgb.data(), 1, rgb.size(), pipe) == rgb.size()) {
        EXPECT_GE(lumaPSNR(rgb, *expected), 35.0) << "frame " << frames;
        ++frames;
    }
    EXPECT_EQ(pclose(pipe), 0);
    std::ifstream errors(complaints);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(errors), {}), "");
    fs::remove(complaints);
    EXPECT_EQ(frames, headers.slices.size());
}

TEST(RTMPVideo, StalledLinkKeepsOnlyTheKeyFrameSlots)
{
    const auto env = loadPeerEnv("rtmp");
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    // A noise picture: each key frame is about 100 KB, so once the link stalls
    // the queue passes its limit within seconds.
    std::uint32_t seed = 12345;
    const std::string image = writePPM("noise.ppm", 1280, 720, [&seed](int) {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 24;
    });
    // Enough for the handshake, the publish and the first key frame.
    ondaline::test::FaultRelay relay(static_cast<std::uint16_t>(std::stoi(env.at("ONDALINE_RTMP_PORT"))));
    relay.stallAfter(200000);
    const auto run = runCommand("timeout 120 " + shellQuote(ONDALINE_HARNESS) +
                                " --mode rtmp --url rtmp://127.0.0.1:" + std::to_string(relay.port()) +
                                "/live --key slow --seconds 14 --source tone --image " + shellQuote(image));
    fs::remove(image);
    std::istringstream lines(run.output);
    std::vector<std::string> drops;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("Ondaline: Dropping video frame (queue ")) drops.push_back(line);
    }
    ASSERT_GE(drops.size(), 2u) << run.output;
    // Logged for the 1st, 11th, 21st … drop, each over the 512 KB limit.
    for (std::size_t i = 0; i < drops.size(); ++i) {
        EXPECT_NE(drops[i].find("KB > 512KB, " + std::to_string(i * 10 + 1) + " total dropped)"), std::string::npos)
            << drops[i];
    }
}

// A FIFO named as the picture and as the crawler file (a hung network share
// in the field) is never opened: the image counts as missing and both
// tracks go on.
TEST(RTMPVideo, FIFOAsPictureOrCrawlerFileDoesNotStallTheStream)
{
    const auto env = loadPeerEnv("rtmp");
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    const fs::path folder = runFolder() / "fifo";
    fs::create_directories(folder);
    const std::string image = folder / "show.png", crawler = folder / "crawler.txt";
    ASSERT_EQ(::mkfifo(image.c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo(crawler.c_str(), 0644), 0);
    const auto run = runCommand("timeout 60 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                env.at("ONDALINE_RTMP_URL") + " --key fifo --seconds 5 --source tone --image " +
                                shellQuote(image) + " --crawler " + shellQuote(crawler));
    fs::remove_all(folder);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Ondaline: ⚠ Image file not used — " + image + ": not a regular file"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Ondaline: Failed to load image: " + image), std::string::npos);
    EXPECT_NE(run.output.find("Ondaline: ⚠ Crawler file not used — " + crawler + ": not a regular file"),
              std::string::npos);

    const std::string file = recordingOf(env.at("ONDALINE_RTMP_RECORD_DIR"), "fifo");
    ASSERT_FALSE(file.empty());
    EXPECT_GT(audioSpan(file), 4.0);
    const std::string videoPackets =
        runCommand(
            "ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
            shellQuote(file))
            .output;
    EXPECT_GE(std::stoi(videoPackets), 100) << videoPackets;  // about 24 a second
}

// A machine too busy to run the encoder queue on time (held up 150 ms each
// second) loses video ticks; the frames that do go out take the clock's
// slots, so the picture stays with the sound for the whole minute.
TEST(RTMPVideo, PictureStaysWithTheSoundWhenTicksComeLate)
{
    const auto env = loadPeerEnv("rtmp");
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    const auto run = runCommand("timeout 180 " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                env.at("ONDALINE_RTMP_URL") +
                                " --key late-ticks --seconds 62 --stall-encoder 150 --source tone");
    ASSERT_EQ(run.exitCode, 0) << run.output;

    const std::string file = recordingOf(env.at("ONDALINE_RTMP_RECORD_DIR"), "late-ticks");
    ASSERT_FALSE(file.empty());
    std::vector<double> seconds;
    for (int s = 5; s <= 60; s += 5) seconds.push_back(s);
    const auto offsets = avOffsetsAt(file, seconds);
    ASSERT_EQ(offsets.size(), seconds.size());
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        EXPECT_LT(std::abs(offsets[i]), 100.0) << "at " << seconds[i] << " s";
    }
}

// On the same busy machine the playlist player, playing through the sound
// server as it does for the station, keeps its audio within the half second
// the engine allows ahead of the clock: none of it is dropped in a minute.
TEST(RTMPVideo, PlaylistLosesNothingWhenTicksComeLate)
{
    const auto env = loadPeerEnv("rtmp"), pulse = loadPeerEnv(soundPeer());
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    ASSERT_FALSE(pulse.empty()) << "the pulse peer is not running";
    const fs::path music = runFolder() / "late-ticks";
    fs::create_directories(music);
    for (const char* name : {"one.flac", "two.flac"}) writeToneFLAC(music / name, 44100, 2, 440, 25);
    const auto run = runCommand("PULSE_SERVER=" + shellQuote(pulse.at("PULSE_SERVER")) + " timeout 180 " +
                                shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " + env.at("ONDALINE_RTMP_URL") +
                                " --key late-playlist --seconds 62 --stall-encoder 150 --source playlist " +
                                shellQuote(music));
    fs::remove_all(music);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("harness: player output sound server"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("ran ahead of the stream clock"), std::string::npos) << run.output;
    const std::string file = recordingOf(env.at("ONDALINE_RTMP_RECORD_DIR"), "late-playlist");
    ASSERT_FALSE(file.empty());
    EXPECT_GT(audioSpan(file), 60.0);
}
