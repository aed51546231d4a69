#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ondaline::platform {

class Connection;
class SerialQueue;
struct QueueCore;

struct ListenerState {
    enum class Kind { ready, failed, cancelled };
    Kind kind;
    std::string error;  // what failed, for `failed`
};

// A plain TCP listener on every IPv4 address of this machine.
//
// create() makes the socket; start() binds and listens on the given queue
// and reports ready, or failed(error) when the port cannot be had. Each
// accepted peer arrives as a Connection that has not been started. After
// cancel() one `cancelled` follows and nothing else. Notices and new
// connections run on the queue given to start().
class Listener {
public:
    using StateHandler = std::function<void(const ListenerState&)>;
    using NewConnectionHandler = std::function<void(std::shared_ptr<Connection>)>;

    // Null, with `error` set, when the system gives no socket.
    static std::unique_ptr<Listener> create(std::uint16_t port, std::string& error);

    ~Listener();  // cancels

    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Set before start().
    void setStateHandler(StateHandler handler);
    void setNewConnectionHandler(NewConnectionHandler handler);
    void start(SerialQueue& queue);
    void cancel();

    std::uint16_t port() const;

    struct Private;

private:
    explicit Listener(std::shared_ptr<Private> p);

    std::shared_ptr<QueueCore> queue_;  // declared first: outlives private_
    std::shared_ptr<Private> private_;
};

}  // namespace ondaline::platform
