#include "support/stalling_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace ondaline::test {

namespace {

constexpr int smallBuffer = 4096;

void shrinkBuffers(int fd)
{
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &smallBuffer, sizeof smallBuffer);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &smallBuffer, sizeof smallBuffer);
}

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

}  // namespace

StallingRelay::StallingRelay(std::uint16_t upstreamPort, std::size_t passBytes)
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Accepted sockets inherit the small receive window and an Internet-sized
    // segment: with loopback's 64 KB segments the sender's kernel would size its
    // buffer in megabytes and hide the stall from the queue.
    shrinkBuffers(listener_);
    constexpr int internetSegment = 1400;
    setsockopt(listener_, IPPROTO_TCP, TCP_MAXSEG, &internetSegment, sizeof internetSegment);
    sockaddr_in address = loopback(0);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 1) != 0) {
        throw std::runtime_error("relay cannot listen");
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, upstreamPort, passBytes] { run(upstreamPort, passBytes); });
}

StallingRelay::~StallingRelay()
{
    stop_ = true;
    thread_.join();
    close(listener_);
}

void StallingRelay::run(std::uint16_t upstreamPort, std::size_t passBytes)
{
    pollfd waiting{listener_, POLLIN, 0};
    while (!stop_ && poll(&waiting, 1, 100) != 1) {
    }
    if (stop_) return;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    const int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    shrinkBuffers(upstream);
    sockaddr_in address = loopback(upstreamPort);
    if (client < 0 || connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (client >= 0) close(client);
        close(upstream);
        return;
    }
    std::size_t passed = 0;
    char buffer[65536];
    while (!stop_) {
        const bool reading = passed < passBytes;
        pollfd fds[2] = {{upstream, POLLIN, 0}, {client, static_cast<short>(reading ? POLLIN : 0), 0}};
        if (poll(fds, 2, 50) < 0) break;
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = read(upstream, buffer, sizeof buffer);
            if (n <= 0 || write(client, buffer, static_cast<std::size_t>(n)) != n) break;
        }
        if (reading && (fds[1].revents & (POLLIN | POLLHUP))) {
            const ssize_t n = read(client, buffer, std::min(passBytes - passed, sizeof buffer));
            if (n <= 0 || write(upstream, buffer, static_cast<std::size_t>(n)) != n) break;
            passed += static_cast<std::size_t>(n);
        }
    }
    close(client);
    close(upstream);
}

}  // namespace ondaline::test
