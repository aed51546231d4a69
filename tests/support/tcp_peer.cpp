#include "support/tcp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace ondaline::test {

namespace {

int listenOnLoopback(std::uint16_t& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0) {
        close(fd);
        throw std::runtime_error("cannot listen on loopback");
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

TCPPeer::TCPPeer(Script script, bool acceptConnection) : listener_(listenOnLoopback(port_))
{
    if (!acceptConnection) return;
    thread_ = std::thread([this, script = std::move(script)] {
        // Wait at most 30 s for the client, so a failing test cannot hang here.
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, 30000) != 1) return;
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        if (script) script(client);
        close(client);
    });
}

TCPPeer::~TCPPeer()
{
    join();
    close(listener_);
}

void TCPPeer::join()
{
    if (thread_.joinable()) thread_.join();
}

std::vector<std::uint8_t> TCPPeer::readExactly(int socket, std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = read(socket, bytes.data() + got, count - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

std::vector<std::uint8_t> TCPPeer::readToEnd(int socket)
{
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[65536];
    ssize_t n;
    while ((n = read(socket, buffer, sizeof buffer)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    return bytes;
}

bool TCPPeer::writeAll(int socket, const std::vector<std::uint8_t>& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = write(socket, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::uint16_t closedPort()
{
    std::uint16_t port = 0;
    const int fd = listenOnLoopback(port);
    close(fd);  // nothing listens there now
    return port;
}

}  // namespace ondaline::test
