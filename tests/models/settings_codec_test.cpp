#include "models/settings_codec.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

using namespace ondaline;
using Json = nlohmann::ordered_json;

namespace {

ImageScheduleConfig decode(const std::string& json)
{
    auto config = decodeSettings(json);
    EXPECT_TRUE(config.has_value()) << json;
    return config.value_or(ImageScheduleConfig{});
}

// A settings file as the macOS program wrote it: its encoder escapes "/",
// writes non-ASCII text as raw UTF-8, spells doubles in their shortest (or
// older, longer) round-trip form and orders keys as it pleases.
const char* const macSettingsFile =
    R"({"streamMode":"youtube","entries":[{"imagePath":"\/Users\/dj\/Pictures\/Morning Café.jpg","startMinute":30,)"
    R"("endHour":10,"dayOfWeek":2,"endMinute":0,"startHour":6},{"endMinute":0,"startHour":22,"imagePath":)"
    R"("\/Users\/dj\/Pictures\/Night.png","dayOfWeek":6,"endHour":2,"startMinute":0}],"icecastPort":8443,)"
    R"("audioBitrate":256000,"stationName":"Radio Ondes — Zürich","nowPlaying":{"bgHeight":60,"textX":290,)"
    R"("showPrefix":true,"fontName":"Helvetica-Bold","delimiter":"\t","bgColorR":0,"bgAlpha":0.69999999999999996,)"
    R"("textY":38.5,"multiRow":true,"filePath":"\/Users\/dj\/Station\/Misc\/System\/current_song.txt",)"
    R"("bgColorG":0.1,"textColorR":1,"bgWidth":1280,"textColorG":0.84313725490196079,"bgX":0,"showBackground":true,)"
    R"("fontSize":26,"bgY":0,"textColorB":0,"bgColorB":0.2},"hourOffset":-1,"visualization":{"segmentGap":2,)"
    R"("enabled":true,"colorTopB":1,"posX":40,"barCount":20,"colorBottomG":0.4,"sensitivity":1.5,"height":300,)"
    R"("colorTopR":1,"width":400,"colorTopG":1,"posY":100,"colorBottomB":1,"opacity":0.8,"colorBottomR":0,)"
    R"("segmentCount":12},"icecastMount":"\/live.aac","appCaptureBundleID":"com.example.player",)"
    R"("crawler":{"speed":2.5,"barAlpha":0.7,"barColorG":0,"enabled":true,"barHeight":36,"fontSize":22,)"
    R"("textColorB":1,"barY":40,"uppercase":true,"barColorR":0,"fontName":"Helvetica","barX":0,"textColorR":1,)"
    R"("barWidth":1280,"textColorG":1,"barColorB":0},"serverURL":"rtmp:\/\/a.rtmp.example.com\/live2",)"
    R"("defaultImagePath":"\/Users\/dj\/Pictures\/Default.png","streamKey":"abcd-efgh-ijkl",)"
    R"("audioSource":"tcp","icecastHost":"stream.example.org","icecastPassword":"hack\/me",)"
    R"("appCaptureName":"Player","audioOutputDeviceUID":"BuiltInSpeakerDevice"})";

}  // namespace

TEST(SettingsCodec, LoadsAFileWrittenByTheMacProgramFieldForField)
{
    const auto config = decode(macSettingsFile);
    EXPECT_EQ(config.defaultImagePath, "/Users/dj/Pictures/Default.png");
    EXPECT_EQ(config.hourOffset, -1);
    ASSERT_EQ(config.entries.size(), 2u);
    EXPECT_EQ(config.entries[0], ImageScheduleEntry(2, 6, 30, 10, 0, "/Users/dj/Pictures/Morning Café.jpg"));
    EXPECT_EQ(config.entries[1], ImageScheduleEntry(6, 22, 0, 2, 0, "/Users/dj/Pictures/Night.png"));
    EXPECT_EQ(config.stationName, "Radio Ondes — Zürich");
    EXPECT_EQ(config.serverURL, "rtmp://a.rtmp.example.com/live2");
    EXPECT_EQ(config.streamKey, "abcd-efgh-ijkl");
    EXPECT_EQ(config.streamMode, "youtube");
    EXPECT_EQ(config.icecastHost, "stream.example.org");
    EXPECT_EQ(config.icecastPort, 8443);
    EXPECT_EQ(config.icecastMount, "/live.aac");
    EXPECT_EQ(config.icecastPassword, "hack/me");
    EXPECT_EQ(config.audioBitrate, 256000);
    EXPECT_EQ(config.audioSource, "tcp");
    EXPECT_EQ(config.appCaptureBundleID, "com.example.player");
    EXPECT_EQ(config.appCaptureName, "Player");
    EXPECT_EQ(config.audioOutputDeviceUID, "BuiltInSpeakerDevice");

    NowPlayingConfig nowPlaying;
    nowPlaying.filePath = "/Users/dj/Station/Misc/System/current_song.txt";
    nowPlaying.multiRow = true;
    nowPlaying.showPrefix = true;
    nowPlaying.textY = 38.5;
    nowPlaying.fontSize = 26;
    nowPlaying.textColorG = 0.84313725490196079;
    nowPlaying.textColorB = 0;
    nowPlaying.showBackground = true;
    nowPlaying.bgHeight = 60;
    nowPlaying.bgColorG = 0.1;
    nowPlaying.bgColorB = 0.2;
    EXPECT_EQ(config.nowPlaying, nowPlaying);
    EXPECT_EQ(config.nowPlaying.bgAlpha, 0.7);  // 0.69999999999999996 is the same double

    VisualizationConfig visualization;
    visualization.enabled = true;
    visualization.barCount = 20;
    EXPECT_EQ(config.visualization, visualization);

    CrawlerConfig crawler;
    crawler.enabled = true;
    crawler.fontName = "Helvetica";
    crawler.speed = 2.5;
    crawler.uppercase = true;
    EXPECT_EQ(config.crawler, crawler);
}

TEST(SettingsCodec, WrongTopLevelsAndBrokenTextDoNotDecode)
{
    for (const char* text : {"[]", "\"text\"", "42", "null", "true", "", "   ", "{", R"({"stationName": "a")",
                             "{\"stationName\": \"\xff\"}", "{} {}"}) {
        EXPECT_FALSE(decodeSettings(text).has_value()) << text;
    }
    EXPECT_EQ(decode("{}"), ImageScheduleConfig{});
}

TEST(SettingsCodec, EachFieldFallsBackAloneOnAMissingNullOrWrongValue)
{
    auto config = decode(R"({"icecastPort": "8001", "stationName": "Kept", "audioBitrate": null,
                            "hourOffset": true, "streamKey": 12, "unknownKey": {"x": 1}})");
    EXPECT_EQ(config.icecastPort, 8000);
    EXPECT_EQ(config.stationName, "Kept");
    EXPECT_EQ(config.audioBitrate, 320000);
    EXPECT_EQ(config.hourOffset, 0);
    EXPECT_EQ(config.streamKey, "");

    EXPECT_EQ(decode(R"({"nowPlaying": {"textX": 100}})").nowPlaying.textX, 100.0);
    EXPECT_FALSE(decode(R"({"nowPlaying": {"multiRow": 1}})").nowPlaying.multiRow);
    EXPECT_EQ(decode(R"({"nowPlaying": {"delimiter": null}})").nowPlaying.delimiter, "\t");
    EXPECT_EQ(decode(R"({"nowPlaying": {"fontName": ""}})").nowPlaying.fontName, "");
    // A list or an object where a value belongs is dropped unread, whatever
    // its key, and counts as the wrong type it is.
    const auto wrongKinds = decode(R"({"stationName": [[], ["x"]], "serverURL": {"a": [1]},
                                      "nowPlaying": {"fontName": [["Helvetica"]], "fontSize": 30},
                                      "visualization": [{"enabled": true}], "streamKey": "k"})");
    EXPECT_EQ(wrongKinds.stationName, "My Station");
    EXPECT_EQ(wrongKinds.serverURL, ImageScheduleConfig{}.serverURL);
    EXPECT_EQ(wrongKinds.nowPlaying.fontName, NowPlayingConfig{}.fontName);
    EXPECT_EQ(wrongKinds.nowPlaying.fontSize, 30.0);
    EXPECT_EQ(wrongKinds.visualization, VisualizationConfig{});
    EXPECT_EQ(wrongKinds.streamKey, "k");
    EXPECT_EQ(decode(R"({"crawler": {"speed": "fast", "fontSize": 30}})").crawler, ([] {
                  CrawlerConfig c;
                  c.fontSize = 30;
                  return c;
              }()));
}

TEST(SettingsCodec, IntegersMustBeWholeNumbersInRange)
{
    auto barCount = [](const std::string& value) {
        return decode(R"({"visualization": {"barCount": )" + value + "}}").visualization.barCount;
    };
    EXPECT_EQ(barCount("7"), 7);
    EXPECT_EQ(barCount("7.0"), 7);
    EXPECT_EQ(barCount("-3"), -3);
    EXPECT_EQ(barCount("1e2"), 100);
    EXPECT_EQ(barCount("7.5"), 15);
    EXPECT_EQ(barCount("\"7\""), 15);
    EXPECT_EQ(barCount("true"), 15);
    EXPECT_EQ(barCount("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(barCount("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(barCount("9223372036854775808"), 15);
    EXPECT_EQ(barCount("18446744073709551615"), 15);
    EXPECT_EQ(barCount("1e300"), 15);
    EXPECT_EQ(decode(R"({"visualization": {"barCount": 7.5}})").visualization,
              VisualizationConfig{});  // the other fields keep their defaults

    // Doubles take any number, integers included.
    EXPECT_EQ(decode(R"({"crawler": {"speed": 3}})").crawler.speed, 3.0);
    EXPECT_EQ(decode(R"({"crawler": {"speed": 18446744073709551615}})").crawler.speed, 18446744073709551615.0);
}

TEST(SettingsCodec, OverlayThatIsNotAnObjectTakesItsDefaults)
{
    for (const char* value : {"[]", "\"x\"", "3", "null", "false"}) {
        const auto config = decode(std::string(R"({"stationName": "S", "nowPlaying": )") + value +
                                   R"(, "visualization": )" + value + R"(, "crawler": )" + value + "}");
        EXPECT_EQ(config.nowPlaying, NowPlayingConfig{}) << value;
        EXPECT_EQ(config.visualization, VisualizationConfig{}) << value;
        EXPECT_EQ(config.crawler, CrawlerConfig{}) << value;
        EXPECT_EQ(config.stationName, "S");
    }
}

TEST(SettingsCodec, ScheduleIsAllOrNothing)
{
    const std::string good =
        R"({"dayOfWeek":1,"startHour":6,"startMinute":0,"endHour":7,"endMinute":0,"imagePath":"/a"})";
    EXPECT_EQ(decode(R"({"entries": [)" + good + "," + good + "]}").entries.size(), 2u);
    EXPECT_EQ(decode(R"({"entries": [7.0]})").entries.size(), 0u);

    for (const std::string bad : {
             R"({"dayOfWeek":1,"startHour":6,"startMinute":0,"endHour":7,"endMinute":0})",
             R"({"dayOfWeek":1,"startHour":"6","startMinute":0,"endHour":7,"endMinute":0,"imagePath":"/b"})",
             R"({"dayOfWeek":1,"startHour":6.5,"startMinute":0,"endHour":7,"endMinute":0,"imagePath":"/b"})",
             R"({"dayOfWeek":null,"startHour":6,"startMinute":0,"endHour":7,"endMinute":0,"imagePath":"/b"})",
             R"({"dayOfWeek":1,"startHour":6,"startMinute":0,"endHour":7,"endMinute":0,"imagePath":3})",
             R"([1,6,0,7,0,"/b"])",
         }) {
        const auto config = decode(R"({"stationName": "S", "entries": [)" + good + "," + bad + "," + good + "]}");
        EXPECT_TRUE(config.entries.empty()) << bad;
        EXPECT_EQ(config.stationName, "S");
    }
    EXPECT_TRUE(decode(R"({"entries": {"0": 1}})").entries.empty());
}

TEST(SettingsCodec, WritesEveryKeyInFieldOrderAsIntegersAndNeverNull)
{
    const auto text = encodeSettings(ImageScheduleConfig{});
    ASSERT_TRUE(text);
    EXPECT_EQ(text->find(' '), text->find("My Station") + 2);  // compact: the only blank is inside a value
    const auto json = Json::parse(*text);
    std::vector<std::string> keys;
    for (const auto& [key, value] : json.items()) keys.push_back(key);
    EXPECT_EQ(keys,
              (std::vector<std::string>{"defaultImagePath", "hourOffset", "entries", "nowPlaying", "visualization",
                                        "crawler", "stationName", "serverURL", "streamKey", "streamMode", "icecastHost",
                                        "icecastPort", "icecastMount", "icecastPassword", "audioBitrate", "audioSource",
                                        "appCaptureBundleID", "appCaptureName", "audioOutputDeviceUID"}));
    EXPECT_EQ(json["nowPlaying"].size(), 20u);
    EXPECT_EQ(json["visualization"].size(), 16u);
    EXPECT_EQ(json["crawler"].size(), 16u);
    EXPECT_EQ(json["nowPlaying"].begin().key(), "filePath");
    EXPECT_EQ(json["nowPlaying"]["delimiter"], "\t");
    EXPECT_TRUE(json["icecastPort"].is_number_integer());
    EXPECT_TRUE(json["visualization"]["barCount"].is_number_integer());
    EXPECT_TRUE(json["entries"].is_array());
    EXPECT_EQ(text->find("null"), std::string::npos);
    EXPECT_TRUE(ImageScheduleConfig{}.serverURL.starts_with("rtmp://"));
    EXPECT_TRUE(ImageScheduleConfig{}.serverURL.ends_with("/broadcast"));
}

TEST(SettingsCodec, RoundTripsEveryFieldIncludingOddValues)
{
    ImageScheduleConfig config = decode(macSettingsFile);
    config.hourOffset = -170;
    config.icecastPort = -1;
    config.audioBitrate = INT64_MAX;
    config.streamKey = "";
    config.stationName = "Ünïcödé \"quoted\" \\ / \u2028 \U0001F4FB";
    config.entries.emplace_back(9, -1, 75, 99, 0, "");
    config.visualization.segmentGap = -0.5;
    config.crawler.speed = 1e-300;
    const auto text = encodeSettings(config);
    ASSERT_TRUE(text);
    EXPECT_EQ(decode(*text), config);
}

TEST(SettingsCodec, NonFiniteNumbersMakeTheWholeRecordUnwritable)
{
    for (double bad :
         {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        ImageScheduleConfig config;
        config.crawler.speed = bad;
        EXPECT_FALSE(encodeSettings(config).has_value());
        config = {};
        config.nowPlaying.bgAlpha = bad;
        EXPECT_FALSE(encodeSettings(config).has_value());
    }
}

TEST(SettingsCodec, InvalidUTF8InATextIsReplacedNotFatal)
{
    ImageScheduleConfig config;
    config.stationName = "Radio \xff\xfe";
    const auto text = encodeSettings(config);
    ASSERT_TRUE(text);
    EXPECT_EQ(decode(*text).stationName, "Radio \uFFFD\uFFFD");
}

TEST(OverlayRecords, DelimiterOptionsAndDayNames)
{
    ASSERT_EQ(NowPlayingConfig::delimiterOptions.size(), 4u);
    EXPECT_EQ(NowPlayingConfig::delimiterOptions[0].second, "Tab");
    EXPECT_EQ(NowPlayingConfig::delimiterOptions[1], (std::pair<std::string_view, std::string_view>{",", "Comma"}));
    EXPECT_EQ(NowPlayingConfig::delimiterOptions[2].second, "Pipe");
    EXPECT_EQ(NowPlayingConfig::delimiterOptions[3].second, "Semicolon");
    EXPECT_EQ(NowPlayingConfig::delimiterOptions[0].first, NowPlayingConfig{}.delimiter);

    EXPECT_EQ(ImageScheduleEntry(0, 0, 0, 0, 0, "").dayName(), "?");
    EXPECT_EQ(ImageScheduleEntry(8, 0, 0, 0, 0, "").dayName(), "?");
    EXPECT_EQ(ImageScheduleEntry(1, 0, 0, 0, 0, "").dayName(), "Sunday");
    EXPECT_EQ(ImageScheduleEntry(7, 0, 0, 0, 0, "").dayName(), "Saturday");
    EXPECT_EQ(ImageScheduleEntry(INT64_MIN, 0, 0, 0, 0, "").dayName(), "?");
}

TEST(SettingsCodecTest, NestingPastSixtyFourLevelsIsNotJSON)
{
    auto nested = [](int arrays) {
        return "{\"stationName\":\"Deep\",\"fromElsewhere\":" + std::string(arrays, '[') + std::string(arrays, ']') +
               "}";
    };
    // The top-level object is the first level.
    ASSERT_TRUE(decodeSettings(nested(63)));
    EXPECT_EQ(decodeSettings(nested(63))->stationName, "Deep");
    EXPECT_FALSE(decodeSettings(nested(64)));
    // A hostile file: millions of levels are refused without being built.
    EXPECT_FALSE(decodeSettings(nested(3'000'000)));
    EXPECT_FALSE(decodeSettings("{\"nowPlaying\":" + std::string(100, '{') + "}"));
}

TEST(SettingsCodecTest, ReportsASchedulePresentButDropped)
{
    const std::string good =
        R"({"dayOfWeek":2,"startHour":6,"startMinute":0,"endHour":9,"endMinute":0,"imagePath":"/a.png"})";
    for (const std::string& entries : std::vector<std::string>{
             "[" + good +
                 R"(,{"dayOfWeek":2,"startHour":"6","startMinute":0,"endHour":9,"endMinute":0,"imagePath":"/b.png"}])",
             "[" + good +
                 R"(,{"dayOfWeek":2,"startHour":6.5,"startMinute":0,"endHour":9,"endMinute":0,"imagePath":"/b.png"}])",
             std::string("\"not a list\""),
             // Elements after the first bad one are walked, not kept.
             "[{}," + good + R"(,[[1]],"x",{"dayOfWeek":{"deep":[1,2]}}])", "[" + good + R"(,7,{},[]])",
             // Containers of the wrong kind, the first one too.
             R"({"first":[1]})", R"([[1, 2], )" + good + "]",
             R"([{"dayOfWeek":2,"startHour":6,"startMinute":0,"endHour":9,"endMinute":0,"imagePath":["/a.png"]}])"}) {
        const auto decoded = decodeSettingsReporting(R"({"stationName":"Kept","entries":)" + entries +
                                                     R"(,"crawler":{"speed":3}})");
        ASSERT_TRUE(decoded) << entries;
        EXPECT_TRUE(decoded->scheduleDropped) << entries;
        EXPECT_TRUE(decoded->config.entries.empty());
        EXPECT_EQ(decoded->config.stationName, "Kept");
        EXPECT_EQ(decoded->config.crawler.speed, 3) << "members after the schedule still count";
    }
    for (const std::string& whole :
         std::vector<std::string>{"{}", R"({"entries":null})", R"({"entries":[]})", "{\"entries\":[" + good + "]}"}) {
        const auto decoded = decodeSettingsReporting(whole);
        ASSERT_TRUE(decoded) << whole;
        EXPECT_FALSE(decoded->scheduleDropped) << whole;
    }
}
