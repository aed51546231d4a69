#pragma once

// The Icecast source client's texts and frames as plain data: the SOURCE
// request, the admin metadata request, the status of the replies to both and
// the ADTS header. No socket, queue or clock in here.

#include "base/bytes.h"
#include "base/engine_types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ondaline::icecast {

inline constexpr std::string_view userAgent = "Ondaline/1.0.26";

// "/" + mountPoint unless it already begins with "/"; "" gives "/".
std::string mountPath(std::string_view mountPoint);

// Base64 of "user:password" (standard alphabet, "=" padding).
std::string basicCredentials(std::string_view user, std::string_view password);
std::string base64(std::string_view bytes);

// The SOURCE request. The mount goes as an encoded path, so that a space or
// a line break in it arrives as part of it and never breaks a line.
std::string sourceRequest(const IcecastConfig& icecast, const Configuration& audio);

// A request as it may be logged: each "Authorization: Basic" value (the
// source password, in base64) becomes "***"; the rest stays as sent.
std::string withoutCredentials(std::string_view request);

// Percent-encoding of a song title for the query: letters, digits and the
// marks - . _ ~ ! $ ' ( ) * , ; : / ? @ stay; everything else, "&", "+", "="
// and every non-ASCII byte included, becomes %XX.
std::string encodeQueryValue(std::string_view text);

// Percent-encoding of a path, the mount's in the SOURCE request: letters,
// digits, "/" and the marks - . _ ~ ! $ & ' ( ) * + , ; = : @ stay;
// everything else, " ", "#", "?", "%", line breaks and every non-ASCII byte
// included, becomes %XX, which the server decodes.
std::string encodePath(std::string_view path);

// The title update: the mount and the song as encoded query values.
std::string metadataRequest(const IcecastConfig& icecast, std::string_view song);

// The server's answer to SOURCE, read up to the blank line.
struct Reply {
    enum class Verdict { accepted, authentication, mount, rejected };
    Verdict verdict;
    std::string message;  // for the user, when not accepted
};

// Where the header ends (just past the blank line), if it has.
std::optional<std::size_t> headerEnd(std::string_view received);

// Judges a reply by the status code of its first line: 200 accepted, 401
// authentication, 403 mount, anything else rejected with the first 100
// characters of what was received.
Reply judgeReply(std::string_view received);

// The server's answer to a metadata update, as the log reports it: updated
// when "200" appears anywhere in it, else the start of what it said.
struct MetadataReply {
    bool updated;
    std::string excerpt;  // when not updated: its first 80 characters
};

// Absent for bytes that are not UTF-8, which the log does not show.
std::optional<MetadataReply> judgeMetadataReply(std::string_view received);

// An ADTS frame: the 7-byte header (MPEG-4, AAC LC, no CRC) and the payload.
// Absent for a payload the 13-bit length cannot describe (over 8184 bytes).
std::optional<Bytes> buildADTSFrame(ByteView aacData, double sampleRate, std::uint32_t channels);

}  // namespace ondaline::icecast
