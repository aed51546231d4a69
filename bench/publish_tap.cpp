#include "publish_tap.h"

#include "engine/rtmp/chunk_reader.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace ondaline::bench {

namespace {

constexpr std::size_t rtmpHandshakeBytes = 1 + 1536 + 1536;  // C0, C1 and C2 before the first chunk
constexpr std::uint8_t setChunkSizeType = 1, audioType = 8, videoType = 9;

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool writeAll(int socket, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::send(socket, data, size, MSG_NOSIGNAL);
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

struct PublishTap::Parser {
    std::size_t skipped = 0;  // RTMP: handshake bytes passed over
    rtmp::ChunkReader chunks;
    std::string header;  // Icecast: the request up to its blank line
    bool headerDone = false;
    Bytes adts;
};

PublishTap::PublishTap(Protocol protocol, std::uint16_t upstreamPort)
    : protocol_(protocol), parser_(std::make_unique<Parser>())
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    auto address = loopback(0);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("publish tap: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, upstreamPort] { run(upstreamPort); });
}

PublishTap::~PublishTap()
{
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

std::size_t PublishTap::packetCount() const
{
    std::lock_guard guard(lock_);
    return packets_.size();
}

std::vector<PublishTap::Packet> PublishTap::packets() const
{
    std::lock_guard guard(lock_);
    return packets_;
}

Bytes PublishTap::audioSpecificConfig() const
{
    std::lock_guard guard(lock_);
    return asc_;
}

std::vector<PublishTap::Clock::time_point> PublishTap::videoArrivals() const
{
    std::lock_guard guard(lock_);
    return videoArrivals_;
}

void PublishTap::run(std::uint16_t upstreamPort)
{
    pollfd waiting{listener_, POLLIN, 0};
    while (!stop_ && ::poll(&waiting, 1, 50) <= 0) {
    }
    if (stop_) return;
    const int client = ::accept(listener_, nullptr, nullptr);
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const auto address = loopback(upstreamPort);
    if (client >= 0 && server >= 0 &&
        ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const int on = 1;  // the relay adds no delay of its own towards the server
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        relay(client, server);
    }
    if (client >= 0) ::close(client);
    if (server >= 0) ::close(server);
}

void PublishTap::relay(int client, int server)
{
    std::vector<std::uint8_t> buffer(256 * 1024);
    pollfd sockets[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    while (!stop_) {
        if (::poll(sockets, 2, 50) < 0) return;
        for (int i = 0; i < 2; ++i) {
            if (!(sockets[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t got = ::recv(sockets[i].fd, buffer.data(), buffer.size(), 0);
            const auto arrival = Clock::now();
            if (got <= 0) return;
            const auto size = static_cast<std::size_t>(got);
            if (i == 0) parse(buffer.data(), size, arrival);
            if (!writeAll(sockets[1 - i].fd, buffer.data(), size)) return;
        }
    }
}

void PublishTap::parse(const std::uint8_t* data, std::size_t size, Clock::time_point arrival)
{
    Parser& p = *parser_;
    if (protocol_ == Protocol::rtmp) {
        const std::size_t skip = std::min(size, rtmpHandshakeBytes - p.skipped);
        p.skipped += skip;
        p.chunks.append(ByteView(data + skip, size - skip));
        p.chunks.process([&](rtmp::Message&& message) {
            const Bytes& body = message.data;
            if (message.typeID == setChunkSizeType && body.size() >= 4) {
                p.chunks.setInChunkSize(static_cast<std::int64_t>(*readUInt32BE(body, 0) & 0x7FFFFFFF));
            }
            std::lock_guard guard(lock_);
            if (message.typeID == videoType) videoArrivals_.push_back(arrival);
            if (message.typeID != audioType || body.size() < 2 || (body[0] >> 4) != 10) return true;
            if (body[1] == 0) asc_.assign(body.begin() + 2, body.end());
            else packets_.push_back({arrival, Bytes(body.begin() + 2, body.end())});
            return true;
        });
        return;
    }
    std::size_t at = 0;
    if (!p.headerDone) {
        for (; at < size && !p.headerDone; ++at) {
            p.header.push_back(static_cast<char>(data[at]));
            p.headerDone = p.header.ends_with("\r\n\r\n");
        }
    }
    p.adts.insert(p.adts.end(), data + at, data + size);
    std::size_t start = 0;
    while (p.adts.size() - start >= 7) {
        const std::uint8_t* frame = p.adts.data() + start;
        if (frame[0] != 0xFF || (frame[1] & 0xF0) != 0xF0) {  // lost sync: look for the next frame
            ++start;
            continue;
        }
        const std::size_t length = ((frame[3] & 0x03u) << 11) | (frame[4] << 3) | (frame[5] >> 5);
        if (length < 7) {
            ++start;
            continue;
        }
        if (p.adts.size() - start < length) break;
        std::lock_guard guard(lock_);
        packets_.push_back({arrival, Bytes(frame, frame + length)});
        start += length;
    }
    p.adts.erase(p.adts.begin(), p.adts.begin() + static_cast<std::ptrdiff_t>(start));
}

}  // namespace ondaline::bench
