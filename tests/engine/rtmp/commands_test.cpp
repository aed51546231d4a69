#include "engine/rtmp/commands.h"
#include "engine/rtmp/replies.h"

#include "base/amf0_writer.h"

#include "support/bytes_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace ondaline;
using namespace ondaline::rtmp;
using ondaline::test::concat;
using ondaline::test::text;

namespace {
}  // namespace

TEST(Commands, ConnectCarriesTheFourPropertiesInOrder)
{
    const auto payload = connectCommand(1, "live", "rtmp://h/live");
    ASSERT_TRUE(payload);
    const Bytes start = concat({{0x02, 0x00, 0x07},
                                text("connect"),
                                {0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0},
                                {0x03, 0x00, 0x03},
                                text("app"),
                                {0x02, 0x00, 0x04},
                                text("live")});
    ASSERT_GE(payload->size(), start.size());
    EXPECT_TRUE(std::equal(start.begin(), start.end(), payload->begin()));
    EXPECT_EQ(Bytes(payload->end() - 3, payload->end()), (Bytes{0x00, 0x00, 0x09}));

    const auto values = decodeCommand(*payload);
    ASSERT_EQ(values.size(), 3u);
    const auto& object = *values[2].objectValue();
    EXPECT_EQ(object.at("type").stringValue(), "nonprivate");
    EXPECT_EQ(object.at("flashVer").stringValue(), "FMLE/3.0 (compatible; Ondaline)");
    EXPECT_EQ(object.at("tcUrl").stringValue(), "rtmp://h/live");
    EXPECT_EQ(object.size(), 4u);
}

TEST(Commands, PublishDeleteStreamAndControlPayloads)
{
    EXPECT_EQ(*publishCommand("K"), concat({{0x02, 0x00, 0x07},
                                            text("publish"),
                                            {0x00, 0, 0, 0, 0, 0, 0, 0, 0},
                                            {0x05, 0x02, 0x00, 0x01},
                                            text("K"),
                                            {0x02, 0x00, 0x04},
                                            text("live")}));
    const Bytes deleteStream = deleteStreamCommand(6, 1);
    EXPECT_EQ(Bytes(deleteStream.end() - 10, deleteStream.end()), (Bytes{0x05, 0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(decodeCommand(*streamKeyCommand("FCPublish", 3, "key"))[3].stringValue(), "key");
    EXPECT_EQ(decodeCommand(createStreamCommand(4)).size(), 3u);
    EXPECT_EQ(pingResponsePayload(0x12345678), (Bytes{0x00, 0x07, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(uint32Payload(4096), (Bytes{0x00, 0x00, 0x10, 0x00}));
    EXPECT_FALSE(publishCommand(std::string(70000, 'k')));
}

TEST(Replies, ResultsForConnectAndCreateStream)
{
    using Kind = ResultAction::Kind;
    auto result = [](double tx, std::optional<AMF0Value> third) {
        std::vector<AMF0Value> values{AMF0Value::string("_result"), AMF0Value::number(tx), AMF0Value::null()};
        if (third) values.push_back(*third);
        return values;
    };
    EXPECT_EQ(interpretResult(result(1, std::nullopt), 0).kind, Kind::connectAccepted);
    EXPECT_EQ(interpretResult(result(2, std::nullopt), 4).kind, Kind::none);
    EXPECT_EQ(interpretResult(result(4, std::nullopt), 4).kind, Kind::none);  // only 3 values
    EXPECT_EQ(interpretResult(result(0, AMF0Value::number(1)), 0).kind, Kind::none);
    auto created = interpretResult(result(4, AMF0Value::number(1.0)), 4);
    EXPECT_EQ(created.kind, Kind::streamCreated);
    EXPECT_EQ(created.streamID, 1u);
    EXPECT_EQ(interpretResult(result(4, AMF0Value::number(7.9)), 4).streamID, 7u);
    EXPECT_EQ(interpretResult(result(4, AMF0Value::number(-0.5)), 4).streamID, 0u);
    EXPECT_EQ(interpretResult(result(4, AMF0Value::string("1")), 4).kind, Kind::none);
    for (double bad : {-1.0, 4294967296.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
        EXPECT_EQ(interpretResult(result(4, AMF0Value::number(bad)), 4).kind, Kind::badStreamID) << bad;
    }
    // A transaction id that is not a number counts as 0.
    std::vector<AMF0Value> oddID{AMF0Value::string("_result"), AMF0Value::string("1")};
    EXPECT_EQ(interpretResult(oddID, 0).kind, Kind::none);
}

TEST(Replies, ErrorDescriptionAndStatusCodes)
{
    std::vector<AMF0Value> error{AMF0Value::string("_error"), AMF0Value::number(1), AMF0Value::null()};
    EXPECT_EQ(errorMessage(error), "Server error");
    error.push_back(AMF0Value::object({{"description", AMF0Value::number(3)}}));
    EXPECT_EQ(errorMessage(error), "Server error");
    error[3] = AMF0Value::object({{"description", AMF0Value::string("Connection failed: no app")}});
    EXPECT_EQ(errorMessage(error), "Connection failed: no app");

    std::vector<AMF0Value> status{AMF0Value::string("onStatus"), AMF0Value::number(0), AMF0Value::null(),
                                  AMF0Value::object({{"code", AMF0Value::number(1)}}),
                                  AMF0Value::object({{"code", AMF0Value::string("NetStream.Publish.Start")}})};
    EXPECT_EQ(statusCode(status), "NetStream.Publish.Start");
    EXPECT_EQ(statusCode({AMF0Value::string("onStatus")}), std::nullopt);

    EXPECT_EQ(classifyStatus("NetStream.Publish.Start"), StatusMeaning::publishStart);
    EXPECT_EQ(classifyStatus("NetStream.Publish.Denied"), StatusMeaning::failure);
    EXPECT_EQ(classifyStatus("NetStream.Publish.Failed"), StatusMeaning::failure);
    EXPECT_EQ(classifyStatus("NetConnection.Connect.Error"), StatusMeaning::failure);
    EXPECT_EQ(classifyStatus("NetConnection.Connect.Rejected"), StatusMeaning::informational);
    EXPECT_EQ(classifyStatus("NetStream.Publish.BadName"), StatusMeaning::informational);
    EXPECT_EQ(classifyStatus("netstream.publish.failed"), StatusMeaning::informational);

    // A refusal at level "error" is reported with the server's description.
    auto statusOf = [](std::map<std::string, AMF0Value> info) {
        return std::vector<AMF0Value>{AMF0Value::string("onStatus"), AMF0Value::number(0), AMF0Value::null(),
                                      AMF0Value::object(std::move(info))};
    };
    EXPECT_EQ(statusErrorMessage(statusOf({{"level", AMF0Value::string("error")},
                                           {"code", AMF0Value::string("NetStream.Publish.BadName")},
                                           {"description", AMF0Value::string("Already publishing")}})),
              "Publish failed: NetStream.Publish.BadName — Already publishing (the stream key is rejected or already "
              "in use)");
    EXPECT_EQ(statusErrorMessage(statusOf({{"level", AMF0Value::string("error")},
                                           {"code", AMF0Value::string("NetStream.Publish.Denied")}})),
              "Publish failed: NetStream.Publish.Denied");
    EXPECT_EQ(statusErrorMessage(statusOf({{"level", AMF0Value::string("status")},
                                           {"code", AMF0Value::string("NetStream.Publish.Start")}})),
              std::nullopt);
    EXPECT_EQ(statusErrorMessage(status), std::nullopt);  // no level
}
