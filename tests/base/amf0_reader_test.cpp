#include "base/amf0_reader.h"
#include "base/amf0_writer.h"

#include <gtest/gtest.h>

using namespace ondaline;

namespace {

AMF0Read mustRead(const Bytes& data, std::int64_t at = 0)
{
    auto read = readAMF0Value(data, at);
    EXPECT_TRUE(read.has_value());
    return read.value_or(AMF0Read{AMF0Value::null(), -1});
}

// The body of an nginx-rtmp "_result" to "connect": name, transaction id,
// properties object, information object.
Bytes connectResult()
{
    Bytes out;
    appendAMF0String(out, "_result");
    appendAMF0Number(out, 1);
    appendAMF0ObjectStart(out);
    appendAMF0Property(out, "fmsVer", "FMS/3,0,1,123");
    appendAMF0Property(out, "capabilities", 31.0);
    appendAMF0ObjectEnd(out);
    appendAMF0ObjectStart(out);
    appendAMF0Property(out, "level", "status");
    appendAMF0Property(out, "code", "NetConnection.Connect.Success");
    appendAMF0Property(out, "description", "Connection succeeded.");
    appendAMF0Property(out, "objectEncoding", 0.0);
    appendAMF0ObjectEnd(out);
    return out;
}

}  // namespace

TEST(AMF0Reader, RoundTripsEveryWrittenKind)
{
    Bytes out;
    appendAMF0Number(out, -0.5);
    appendAMF0String(out, "Caf\u00e9");
    appendAMF0Boolean(out, true);
    appendAMF0Null(out);
    appendAMF0ObjectStart(out);
    appendAMF0Property(out, "n", 3.0);
    appendAMF0Property(out, "s", "x");
    appendAMF0Property(out, "b", false);
    appendAMF0ObjectEnd(out);

    std::int64_t at = 0;
    std::vector<AMF0Value> values;
    while (auto read = readAMF0Value(out, at)) {
        values.push_back(read->value);
        at += read->consumed;
    }
    EXPECT_EQ(at, static_cast<std::int64_t>(out.size()));
    ASSERT_EQ(values.size(), 5u);
    EXPECT_EQ(values[0].numberValue(), -0.5);
    EXPECT_EQ(values[1].stringValue(), "Caf\u00e9");
    EXPECT_EQ(values[2], AMF0Value::boolean(true));
    EXPECT_EQ(values[3].kind(), AMF0Value::Kind::null);
    ASSERT_NE(values[4].objectValue(), nullptr);
    EXPECT_EQ(*values[4].objectValue(),
              (AMF0Value::Object{
                  {"n", AMF0Value::number(3)}, {"s", AMF0Value::string("x")}, {"b", AMF0Value::boolean(false)}}));
}

TEST(AMF0Reader, AccessorsAnswerOnlyForTheirOwnKind)
{
    const auto number = AMF0Value::number(7);
    EXPECT_EQ(number.numberValue(), 7.0);
    EXPECT_EQ(number.stringValue(), std::nullopt);
    EXPECT_EQ(number.objectValue(), nullptr);
    EXPECT_EQ(AMF0Value::string("7").numberValue(), std::nullopt);
    EXPECT_EQ(AMF0Value::unknown().stringValue(), std::nullopt);
}

TEST(AMF0Reader, ScalarsNeedAllTheirBytes)
{
    auto read = mustRead(Bytes{0x02, 0x00, 0x00});
    EXPECT_EQ(read.value.stringValue(), "");
    EXPECT_EQ(read.consumed, 3);

    EXPECT_FALSE(readAMF0Value(Bytes{0x02, 0x00, 0x05, 'a', 'b', 'c', 'd'}, 0));
    EXPECT_FALSE(readAMF0Value(Bytes{0x02, 0x00}, 0));
    EXPECT_FALSE(readAMF0Value(Bytes{0x00, 1, 2, 3, 4, 5, 6, 7}, 0));
    EXPECT_EQ(mustRead(Bytes{0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}).consumed, 9);
    EXPECT_FALSE(readAMF0Value(Bytes{0xAA, 0x01}, 1));  // boolean marker on the last byte

    read = mustRead(Bytes{0x01, 0x7F});
    EXPECT_EQ(read.value, AMF0Value::boolean(true));  // any non-zero byte is true
    EXPECT_EQ(read.consumed, 2);
}

TEST(AMF0Reader, OffsetsOutsideTheBufferAreAbsent)
{
    const Bytes data{0x05};
    EXPECT_FALSE(readAMF0Value(data, 1));
    EXPECT_FALSE(readAMF0Value(data, -1));
    EXPECT_FALSE(readAMF0Value(data, INT64_MAX));
    EXPECT_FALSE(readAMF0Value(Bytes{}, 0));
    EXPECT_EQ(mustRead(data).consumed, 1);
}

TEST(AMF0Reader, InvalidUTF8ReadsAsTheEmptyText)
{
    auto read = mustRead(Bytes{0x02, 0x00, 0x02, 0xC0, 0x80});
    EXPECT_EQ(read.value.stringValue(), "");
    EXPECT_EQ(read.consumed, 5);

    read = mustRead(Bytes{0x03, 0x00, 0x01, 0xFF, 0x05, 0x00, 0x00, 0x09});
    EXPECT_EQ(*read.value.objectValue(), (AMF0Value::Object{{"", AMF0Value::null()}}));
}

TEST(AMF0Reader, ObjectEndIsTheEmptyKeyTheEndMarkerIsOptional)
{
    auto read = mustRead(Bytes{0x03, 0x00, 0x00, 0x09});
    EXPECT_TRUE(read.value.objectValue()->empty());
    EXPECT_EQ(read.consumed, 4);

    read = mustRead(Bytes{0x03, 0x00, 0x00});
    EXPECT_TRUE(read.value.objectValue()->empty());
    EXPECT_EQ(read.consumed, 3);

    read = mustRead(Bytes{0x03, 0x00, 0x00, 0x05});  // not an end marker: left unread
    EXPECT_EQ(read.consumed, 3);
}

TEST(AMF0Reader, RepeatedKeyKeepsTheLastValue)
{
    Bytes out;
    appendAMF0ObjectStart(out);
    appendAMF0Property(out, "code", "first");
    appendAMF0Property(out, "code", "second");
    appendAMF0ObjectEnd(out);
    EXPECT_EQ(mustRead(out).value.objectValue()->at("code").stringValue(), "second");
}

TEST(AMF0Reader, UndecodedMarkersAreUnknownAndConsumeOneByte)
{
    for (int marker : {0x04, 0x06, 0x07, 0x08, 0x0A, 0x0B, 0x0C, 0x0D, 0x10, 0x11, 0xFF}) {
        const auto read = mustRead(Bytes{static_cast<std::uint8_t>(marker), 0x00, 0x00, 0x00, 0x00});
        EXPECT_EQ(read.value.kind(), AMF0Value::Kind::unknown) << marker;
        EXPECT_EQ(read.consumed, 1) << marker;
    }
    // Inside an object the unknown value is stored and parsing goes on at the
    // next byte, here the next key.
    const Bytes nested{0x03, 0x00, 0x01, 'u', 0x06, 0x00, 0x01, 'n', 0x05, 0x00, 0x00, 0x09};
    const auto read = mustRead(nested);
    EXPECT_EQ(*read.value.objectValue(), (AMF0Value::Object{{"u", AMF0Value::unknown()}, {"n", AMF0Value::null()}}));
    EXPECT_EQ(read.consumed, 12);
}

TEST(AMF0Reader, TruncationAtEveryPositionNeverReadsPastTheEnd)
{
    const Bytes full = connectResult();
    for (std::size_t cut = 0; cut <= full.size(); ++cut) {
        const Bytes part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        std::int64_t at = 0;
        int values = 0;
        while (auto read = readAMF0Value(part, at)) {
            ASSERT_GT(read->consumed, 0);
            at += read->consumed;
            ASSERT_LE(at, static_cast<std::int64_t>(part.size())) << "cut at " << cut;
            ++values;
        }
        if (cut == full.size()) {
            EXPECT_EQ(values, 4);
        }
    }
}

TEST(AMF0Reader, ObjectCutInsideItsSecondValueKeepsTheFirstProperty)
{
    Bytes out;
    appendAMF0ObjectStart(out);
    appendAMF0Property(out, "level", "status");
    appendAMF0Property(out, "code", "NetStream.Publish.Start");
    const Bytes cut(out.begin(), out.end() - 5);
    const auto read = mustRead(cut);
    EXPECT_EQ(*read.value.objectValue(), (AMF0Value::Object{{"level", AMF0Value::string("status")}}));
    // Consumed up to and including the cut property's key.
    EXPECT_EQ(read.consumed, static_cast<std::int64_t>(1 + 2 + 5 + 9 + 2 + 4));
}

TEST(AMF0Reader, HostileNestingIsBoundedAndLeavesTheOuterLevels)
{
    auto nested = [](int depth) {
        Bytes out;
        for (int i = 0; i < depth; ++i) {
            appendAMF0ObjectStart(out);
            appendAMF0Property(out, "k", "v");
            appendUInt16BE(out, 1);
            out.push_back('o');
        }
        appendAMF0Null(out);
        for (int i = 0; i < depth; ++i) appendAMF0ObjectEnd(out);
        return out;
    };
    auto depthOf = [](const AMF0Value& value) {
        int depth = 0;
        const AMF0Value* v = &value;
        while (const auto* object = v->objectValue()) {
            ++depth;
            const auto inner = object->find("o");
            if (inner == object->end()) break;
            v = &inner->second;
        }
        return depth;
    };

    // 31 objects around a null: 32 levels in all, read whole.
    const Bytes ok = nested(amf0MaxDepth - 1);
    auto read = mustRead(ok);
    EXPECT_EQ(depthOf(read.value), amf0MaxDepth - 1);
    EXPECT_EQ(read.consumed, static_cast<std::int64_t>(ok.size()));

    // A million levels: no stack exhaustion, the outer levels survive.
    const Bytes hostile = nested(1'000'000);
    read = mustRead(hostile);
    EXPECT_EQ(depthOf(read.value), amf0MaxDepth);
    EXPECT_LT(read.consumed, static_cast<std::int64_t>(hostile.size()));
}
