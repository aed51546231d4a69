#include "models/server_url.h"

#include <gtest/gtest.h>

using ondaline::parseServerURL;
using ondaline::ServerAddress;

namespace {

struct Case {
    const char* url;
    bool useTLS;
    const char* host;
    std::uint16_t port;
    const char* app;
};

}  // namespace

TEST(ServerURL, ReadsEveryFormTheServicesUse)
{
    const Case cases[] = {
        // Schemes and default ports.
        {"rtmp://a.rtmp.example.com/live2", false, "a.rtmp.example.com", 1935, "live2"},
        {"rtmps://live-api-s.example.com:443/rtmp/", true, "live-api-s.example.com", 443, "rtmp"},
        {"rtmps://ingest.example.net/app", true, "ingest.example.net", 443, "app"},
        {"RTMP://Host.Example/App", false, "Host.Example", 1935, "App"},
        {"Rtmps://HOST/x", true, "HOST", 443, "x"},
        // Blanks and line breaks around the URL.
        {"  rtmp://127.0.0.1:1936/live \n", false, "127.0.0.1", 1936, "live"},
        {"\trtmps://h:8443/a\r\n", true, "h", 8443, "a"},
        // An explicit port wins; a bad one falls back to the scheme's.
        {"rtmps://h:1935/a", true, "h", 1935, "a"},
        {"rtmp://h:65535/a", false, "h", 65535, "a"},
        {"rtmp://h:65536/a", false, "h", 1935, "a"},
        {"rtmps://h:80x/a", true, "h", 443, "a"},
        {"rtmp://h:1:2/a", false, "h", 1935, "a"},
        {"rtmp://h:/a", false, "h", 1935, "a"},
        {"rtmp://h:0/a", false, "h", 0, "a"},
        // Application names.
        {"rtmp://h", false, "h", 1935, "live"},
        {"rtmp://h/", false, "h", 1935, "live"},
        {"rtmp://h:1940", false, "h", 1940, "live"},
        {"rtmp://h/app/instance", false, "h", 1935, "app/instance"},
        {"rtmp://h/app/instance/", false, "h", 1935, "app/instance"},
        {"rtmp://h//", false, "h", 1935, ""},
        {"rtmp://h/app//", false, "h", 1935, "app/"},
        {"rtmp://h/live?token=x", false, "h", 1935, "live?token=x"},
        // User information stays in the host; IPv6 brackets are not special.
        {"rtmp://user@h/a", false, "user@h", 1935, "a"},
        {"rtmp://[::1]:1935/a", false, "[", 1935, "a"},
    };
    for (const auto& c : cases) {
        const auto address = parseServerURL(c.url);
        ASSERT_TRUE(address) << c.url;
        EXPECT_EQ(address->useTLS, c.useTLS) << c.url;
        EXPECT_EQ(address->host, c.host) << c.url;
        EXPECT_EQ(address->port, c.port) << c.url;
        EXPECT_EQ(address->app, c.app) << c.url;
    }
}

TEST(ServerURL, OtherSchemesAreRefusedAndEmptyHostsComeOutEmpty)
{
    for (const char* url : {"", "   ", "http://h/live", "rtmpt://h/live", "h/live", "rtmp:/h/live", "rtmp:h"}) {
        EXPECT_FALSE(parseServerURL(url)) << url;
    }
    for (const char* url : {"rtmp://", "rtmps:///live", "rtmp://:1935/live", " rtmp:// "}) {
        const auto address = parseServerURL(url);
        ASSERT_TRUE(address) << url;
        EXPECT_TRUE(address->host.empty()) << url;
    }
}
