#include "models/server_url.h"

#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace ondaline {

namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
               return p == std::tolower(static_cast<unsigned char>(t));
           });
}

std::optional<std::uint16_t> readPort(std::string_view text)
{
    if (text.empty() || text.size() > 5) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<ServerAddress> parseServerURL(std::string_view url)
{
    std::string_view rest = platform::trimWhitespaceAndNewlines(url);
    ServerAddress address;
    if (startsWithIgnoringCase(rest, "rtmps://")) {
        address.useTLS = true;
        rest.remove_prefix(8);
    } else if (startsWithIgnoringCase(rest, "rtmp://")) {
        rest.remove_prefix(7);
    } else {
        return std::nullopt;
    }

    const auto slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    const std::uint16_t defaultPort = address.useTLS ? 443 : 1935;
    if (const auto colon = authority.find(':'); colon != std::string_view::npos) {
        address.host = authority.substr(0, colon);
        address.port = readPort(authority.substr(colon + 1)).value_or(defaultPort);
    } else {
        address.host = authority;
        address.port = defaultPort;
    }

    if (slash == std::string_view::npos) {
        address.app = "live";
    } else {
        const std::string_view path = rest.substr(slash + 1);
        address.app = path.empty() ? "live" : std::string(path);
        if (address.app.ends_with('/')) address.app.pop_back();
    }
    return address;
}

namespace {

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

}  // namespace

std::string streamKeyServer(std::string_view serverURL)
{
    const auto address = parseServerURL(serverURL);
    if (!address || address->host.empty()) return {};
    return (address->useTLS ? "rtmps://" : "rtmp://") + lowerCase(address->host) + ":" + std::to_string(address->port);
}

std::string icecastServer(std::string_view host, std::int64_t port)
{
    if (host.empty()) return {};
    return lowerCase(host) + ":" + std::to_string(port);
}

std::string briefServer(std::string_view server)
{
    for (const auto& [scheme, port] : {std::pair{"rtmp://", ":1935"}, std::pair{"rtmps://", ":443"}}) {
        if (!server.starts_with(scheme)) continue;
        std::string_view rest = server.substr(std::string_view(scheme).size());
        if (rest.ends_with(port)) rest.remove_suffix(std::string_view(port).size());
        return std::string(rest);
    }
    return std::string(server);
}

}  // namespace ondaline
