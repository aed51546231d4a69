#include "engine/icecast/icecast_protocol.h"

#include "platform/text.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace ondaline::icecast {

namespace {

// The first `count` characters of a reply for the log: code points, not
// bytes, so a character is never cut in two.
std::string_view firstCharacters(std::string_view text, std::size_t count)
{
    std::size_t end = 0;
    for (std::size_t characters = 0; end < text.size() && characters < count; ++characters) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    }
    return text.substr(0, end);
}

// Letters, digits and the marks in `kept` as they are; every other byte as
// %XX.
std::string percentEncoded(std::string_view text, std::string_view kept)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            kept.find(c) != std::string_view::npos) {
            out += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        }
    }
    return out;
}

}  // namespace

std::string mountPath(std::string_view mountPoint)
{
    if (mountPoint.starts_with('/')) return std::string(mountPoint);
    return "/" + std::string(mountPoint);
}

std::string base64(std::string_view bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group = (group << 8) | (k < n ? static_cast<std::uint8_t>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return out;
}

std::string basicCredentials(std::string_view user, std::string_view password)
{
    return base64(std::string(user) + ":" + std::string(password));
}

std::string withoutCredentials(std::string_view request)
{
    constexpr std::string_view field = "Authorization: Basic ";
    std::string masked;
    masked.reserve(request.size());
    for (std::size_t at = 0;;) {
        const std::size_t found = request.find(field, at);
        if (found == std::string_view::npos) return masked.append(request.substr(at));
        masked.append(request.substr(at, found + field.size() - at)).append("***");
        const std::size_t lineEnd = request.find("\r\n", found);
        if (lineEnd == std::string_view::npos) return masked;
        at = lineEnd;
    }
}

std::string sourceRequest(const IcecastConfig& icecast, const Configuration& audio)
{
    // A rate outside what an integer can hold is written as 0 rather than
    // stopping the program.
    const double rate = std::trunc(audio.sampleRate);
    const long long wholeRate = std::isfinite(rate) && std::fabs(rate) < 9.2e18 ? static_cast<long long>(rate) : 0;
    // A line break in a setting would end its header and start another.
    auto value = [](std::string_view text) { return platform::withControlsShown(text); };
    std::string request = "SOURCE " + encodePath(mountPath(icecast.mountPoint)) + " ICE/1.0\r\n";
    request += "Content-Type: audio/aac\r\n";
    request += "Authorization: Basic " + basicCredentials(icecast.username, icecast.password) + "\r\n";
    request += "User-Agent: " + std::string(userAgent) + "\r\n";
    request += "Ice-Audio-Info: ice-bitrate=" + std::to_string(audio.audioBitrate / 1000) +
               ";ice-channels=" + std::to_string(audio.channels) + ";ice-samplerate=" + std::to_string(wholeRate) +
               "\r\n";
    if (!icecast.streamName.empty()) request += "Ice-Name: " + value(icecast.streamName) + "\r\n";
    if (!icecast.streamDescription.empty()) request += "Ice-Description: " + value(icecast.streamDescription) + "\r\n";
    if (!icecast.streamGenre.empty()) request += "Ice-Genre: " + value(icecast.streamGenre) + "\r\n";
    request += std::string("Ice-Public: ") + (icecast.isPublic ? "1" : "0") + "\r\n";
    request += "\r\n";
    return request;
}

std::string encodeQueryValue(std::string_view text) { return percentEncoded(text, "-._~!$'()*,;:/?@"); }

std::string encodePath(std::string_view path) { return percentEncoded(path, "-._~!$&'()*+,;=:@/"); }

std::string metadataRequest(const IcecastConfig& icecast, std::string_view song)
{
    // Icecast takes the title of an AAC stream as Latin-1 unless told the charset.
    return "GET /admin/metadata?mount=" + encodeQueryValue(mountPath(icecast.mountPoint)) +
           "&mode=updinfo&song=" + encodeQueryValue(song) + "&charset=UTF-8 HTTP/1.1\r\n" + "Host: " + icecast.host +
           ":" + std::to_string(icecast.port) + "\r\n" + "Authorization: Basic " +
           basicCredentials(icecast.username, icecast.password) + "\r\n" + "User-Agent: " + std::string(userAgent) +
           "\r\n" + "Connection: close\r\n\r\n";
}

std::optional<std::size_t> headerEnd(std::string_view received)
{
    if (const auto end = received.find("\r\n\r\n"); end != std::string_view::npos) return end + 4;
    if (const auto end = received.find("\n\n"); end != std::string_view::npos) return end + 2;
    return std::nullopt;
}

Reply judgeReply(std::string_view received)
{
    // "HTTP/1.0 200 OK" or "ICE/1.0 200 OK": the code is the second word.
    const std::string_view firstLine = received.substr(0, received.find_first_of("\r\n"));
    int code = 0;
    if (const auto blank = firstLine.find(' '); blank != std::string_view::npos && firstLine.size() >= blank + 4) {
        const std::string_view digits = firstLine.substr(blank + 1, 3);
        if (digits.find_first_not_of("0123456789") == std::string_view::npos &&
            (firstLine.size() == blank + 4 || firstLine[blank + 4] == ' ')) {
            code = (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
        }
    }
    switch (code) {
    case 200:
        return {Reply::Verdict::accepted, {}};
    case 401:
        return {Reply::Verdict::authentication, "Icecast: Authentication failed — check password"};
    case 403:
        return {Reply::Verdict::mount, "Icecast: Mount point in use or forbidden"};
    default:
        return {Reply::Verdict::rejected,
                "Icecast: Server rejected connection — " + std::string(firstCharacters(received, 100))};
    }
}

std::optional<MetadataReply> judgeMetadataReply(std::string_view received)
{
    if (!platform::isValidUTF8(received)) return std::nullopt;
    if (received.find("200") != std::string_view::npos) return MetadataReply{true, {}};
    return MetadataReply{false, std::string(firstCharacters(received, 80))};
}

std::optional<Bytes> buildADTSFrame(ByteView aacData, double sampleRate, std::uint32_t channels)
{
    if (aacData.size() > 8184) return std::nullopt;
    static constexpr std::array<long long, 12> rates{96000, 88200, 64000, 48000, 44100, 32000,
                                                     24000, 22050, 16000, 12000, 11025, 8000};
    const double whole = std::trunc(sampleRate);
    std::uint8_t index = 4;
    if (std::isfinite(whole) && std::fabs(whole) < 9.2e18) {
        for (std::size_t i = 0; i < rates.size(); ++i) {
            if (rates[i] == static_cast<long long>(whole)) index = static_cast<std::uint8_t>(i);
        }
    }
    const std::uint32_t configuration = std::min<std::uint32_t>(channels, 7);
    const std::size_t length = aacData.size() + 7;
    Bytes frame{0xFF,
                0xF1,
                static_cast<std::uint8_t>(0x40 | (index << 2) | (configuration >> 2)),
                static_cast<std::uint8_t>(((configuration & 3) << 6) | ((length >> 11) & 3)),
                static_cast<std::uint8_t>((length >> 3) & 0xFF),
                static_cast<std::uint8_t>(((length & 7) << 5) | 0x1F),
                0xFC};
    appendBytes(frame, aacData);
    return frame;
}

}  // namespace ondaline::icecast
