#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ondaline {

// Where an RTMP or RTMPS URL points: "rtmp[s]://host[:port][/app]".
struct ServerAddress {
    bool useTLS = false;
    std::string host;
    std::uint16_t port = 1935;
    std::string app;  // may itself hold "/"
};

// Reads a server URL, trimmed, with the scheme in any letter case. Absent
// for another scheme. A port that does not read as 0 to 65535 takes the
// scheme's default (1935, or 443 for rtmps); a missing or empty path gives
// the application "live", and one trailing "/" is dropped from it. The host
// may come out empty, which the caller treats as a failure.
std::optional<ServerAddress> parseServerURL(std::string_view url);

// The server a secret goes to, as a secret kept apart is bound to it: for a
// stream key, the scheme, host and port the stream would connect to
// ("rtmps://live.example.com:443"); for an Icecast password, the host and
// port ("icecast.example.com:8000"). Hosts in lower case, as names are
// looked up; empty where no server is named.
std::string streamKeyServer(std::string_view serverURL);
std::string icecastServer(std::string_view host, std::int64_t port);

// A server as a status line has room for: without its scheme, and the
// scheme's own port left out ("live.example.com" for
// "rtmps://live.example.com:443").
std::string briefServer(std::string_view server);

}  // namespace ondaline
