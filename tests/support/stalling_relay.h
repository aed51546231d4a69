#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace ondaline::test {

// A TCP relay on 127.0.0.1 in front of another loopback server: it lets the
// client's first `passBytes` through, then stops reading from the client, as a
// link that has gone dead without closing. Replies still travel back. With
// the relay's receive window kept small, the sender's queue starts growing
// within a few hundred kilobytes. One client.
class StallingRelay {
public:
    StallingRelay(std::uint16_t upstreamPort, std::size_t passBytes);
    ~StallingRelay();

    std::uint16_t port() const { return port_; }

private:
    void run(std::uint16_t upstreamPort, std::size_t passBytes);

    std::uint16_t port_ = 0;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace ondaline::test
