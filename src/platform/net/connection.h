#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ondaline::platform {

class SerialQueue;
struct QueueCore;

struct ConnectionOptions {
    bool useTLS = false;
    bool noDelay = true;
    bool keepAlive = true;
    int keepAliveIntervalSec = 15;
    int keepAliveCount = 3;
    // Bounds the name lookup and the TCP connect. The TLS handshake is bounded
    // by the user of the connection, who cancels it.
    std::chrono::milliseconds connectTimeout{10000};
    bool ipv4Only = true;
    // TCP fast open where the kernel offers it. Only used with TLS: with
    // fast open a plain socket reports "connected" before the SYN has even
    // left, and "ready" is to mean connected.
    bool fastOpen = true;
    // Plain TCP only: while nothing is queued or being written, send() writes
    // on the caller's thread, and when the socket takes it all, its
    // completion runs there before send() returns. A stream of small sends
    // then costs the connection's queue no wake-up each.
    bool writeOnCallersThread = false;
};

struct ConnectionState {
    enum class Kind { preparing, ready, failed, cancelled };
    Kind kind;
    std::string error;  // what failed, for `failed`

    static ConnectionState preparing() { return {Kind::preparing, {}}; }
    static ConnectionState ready() { return {Kind::ready, {}}; }
    static ConnectionState failed(std::string why) { return {Kind::failed, std::move(why)}; }
    static ConnectionState cancelled() { return {Kind::cancelled, {}}; }
};

// A connected TCP socket that a Listener accepted; a Connection takes it
// over. Closed when no Connection ever starts with it.
struct AcceptedSocket {
    int fd = -1;
    std::string peerHost;
    std::uint16_t peerPort = 0;
};

// What one receive gives: bytes, or none with an error, or none and no error
// once the peer has closed (end of stream).
struct ReceiveResult {
    std::vector<std::uint8_t> bytes;
    bool isComplete = false;  // the peer will send nothing more
    std::optional<std::string> error;
};

// A TCP connection, optionally with TLS (the peer's chain verified against
// the system's CA store, or SSL_CERT_FILE, and its name checked; SNI sent).
//
// Every notice and completion runs on the queue given to start(), but for
// sends written at once (ConnectionOptions::writeOnCallersThread). States:
// preparing, then ready or failed(error); failed only before ready. After
// cancel() exactly one `cancelled` follows and no other state. send() may be
// called from any thread and keeps call order; cancel() first sends what is
// queued (within a short bound) and closes TLS properly.
class Connection {
public:
    using StateHandler = std::function<void(const ConnectionState&)>;
    using SendCompletion = std::function<void(const std::optional<std::string>& error)>;
    using ReceiveCompletion = std::function<void(ReceiveResult)>;

    Connection(std::string host, std::uint16_t port, ConnectionOptions options);
    // A connection over a socket a Listener accepted (plain TCP): start()
    // reports preparing, then ready. host() and port() name the peer.
    Connection(AcceptedSocket socket, ConnectionOptions options);
    ~Connection();  // cancels

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Set before start().
    void setStateHandler(StateHandler handler);
    void start(SerialQueue& queue);

    // Sends one whole message. The completion reports an error when the bytes
    // could not be written (the connection failed or was cancelled first).
    void send(std::vector<std::uint8_t> bytes, SendCompletion completion);

    // Delivers at least `minimum` and at most `maximum` bytes; at the end of
    // the stream a shorter tail first, then no bytes and no error. Receives
    // are served in call order. Receives still open at cancel() are dropped.
    void receive(std::size_t minimum, std::size_t maximum, ReceiveCompletion completion);

    void cancel();

    const std::string& host() const;
    std::uint16_t port() const;

    struct Private;

private:
    std::shared_ptr<QueueCore> queue_;  // declared first: outlives private_
    std::shared_ptr<Private> private_;
};

}  // namespace ondaline::platform
