#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ondaline::test {

// A one-connection TCP server on 127.0.0.1 with a free port, for tests that
// need a peer that behaves in a particular way. `script` runs on the peer's
// own thread with the accepted socket; the socket is closed when it returns.
class TCPPeer {
public:
    using Script = std::function<void(int socket)>;

    explicit TCPPeer(Script script, bool acceptConnection = true);
    ~TCPPeer();

    TCPPeer(const TCPPeer&) = delete;
    TCPPeer& operator=(const TCPPeer&) = delete;

    std::uint16_t port() const { return port_; }

    // Waits for the script to return.
    void join();

    // Blocking helpers for scripts.
    static std::vector<std::uint8_t> readExactly(int socket, std::size_t count);
    static std::vector<std::uint8_t> readToEnd(int socket);
    static bool writeAll(int socket, const std::vector<std::uint8_t>& bytes);

private:
    std::uint16_t port_ = 0;  // before listener_: set while that is initialised
    int listener_ = -1;
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t closedPort();

}  // namespace ondaline::test
