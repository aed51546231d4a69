#include "platform/net/listener.h"

#include "platform/dispatch/queue_core.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/net/connection.h"

#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace ondaline::platform {

namespace {

using asio::ip::tcp;

// After an accept that failed for want of resources (descriptors, memory),
// the next one waits this long rather than spinning.
constexpr auto acceptRetryDelay = std::chrono::milliseconds(100);

}  // namespace

struct Listener::Private : std::enable_shared_from_this<Listener::Private> {
    Private(std::uint16_t p, int fd) : port(p), socketFd(fd) {}
    ~Private()
    {
        if (socketFd >= 0) ::close(socketFd);  // never started
    }

    const std::uint16_t port;
    int socketFd;  // until the acceptor takes it over
    StateHandler stateHandler;
    NewConnectionHandler newConnectionHandler;

    std::weak_ptr<QueueCore> queue;  // weak: see Connection::Private
    asio::io_context* io = nullptr;

    // --- the queue's thread only ---
    enum class Phase { created, listening, failed, closed };
    Phase phase = Phase::created;
    std::optional<tcp::acceptor> acceptor;
    std::optional<asio::steady_timer> retryTimer;

    void post(std::function<void()> task)
    {
        if (const auto q = queue.lock(); q && !q->isStopped()) asio::post(q->io, std::move(task));
    }

    void emit(const ListenerState& state)
    {
        if (stateHandler) stateHandler(state);
    }

    void begin()
    {
        if (phase != Phase::created) return;
        acceptor.emplace(*io);
        asio::error_code ec;
        acceptor->assign(tcp::v4(), std::exchange(socketFd, -1), ec);
        // Address reuse lets a restarted listener take its port back while
        // the last session's connections linger in TIME_WAIT; two listeners
        // still cannot share a port.
        if (!ec) acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec) acceptor->bind(tcp::endpoint(tcp::v4(), port), ec);
        if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
        if (ec) {
            phase = Phase::failed;
            return emit({ListenerState::Kind::failed, ec.message()});
        }
        phase = Phase::listening;
        emit({ListenerState::Kind::ready, {}});
        accept();
    }

    void accept()
    {
        if (phase != Phase::listening) return;
        acceptor->async_accept([self = shared_from_this()](const asio::error_code& ec, tcp::socket peer) {
            if (self->phase != Phase::listening) return;
            if (ec) return self->retryLater();
            self->handOver(std::move(peer));
            self->accept();
        });
    }

    void retryLater()
    {
        retryTimer.emplace(*io, acceptRetryDelay);
        retryTimer->async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (!ec) self->accept();
        });
    }

    void handOver(tcp::socket peer)
    {
        asio::error_code ec;
        const auto remote = peer.remote_endpoint(ec);
        if (ec) return;  // gone before we looked: nothing to hand over
        AcceptedSocket accepted{peer.release(ec), remote.address().to_string(), remote.port()};
        if (ec) return;
        auto connection = std::make_shared<Connection>(std::move(accepted), ConnectionOptions{});
        if (newConnectionHandler) newConnectionHandler(std::move(connection));
    }

    void cancel()
    {
        if (phase == Phase::closed) return;
        phase = Phase::closed;
        asio::error_code ignored;
        if (retryTimer) retryTimer->cancel();
        if (acceptor) acceptor->close(ignored);
        emit({ListenerState::Kind::cancelled, {}});
        stateHandler = nullptr;
        newConnectionHandler = nullptr;
    }
};

std::unique_ptr<Listener> Listener::create(std::uint16_t port, std::string& error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<Listener>(new Listener(std::make_shared<Private>(port, fd)));
}

Listener::Listener(std::shared_ptr<Private> p) : private_(std::move(p)) {}

Listener::~Listener() { cancel(); }

void Listener::setStateHandler(StateHandler handler) { private_->stateHandler = std::move(handler); }

void Listener::setNewConnectionHandler(NewConnectionHandler handler)
{
    private_->newConnectionHandler = std::move(handler);
}

void Listener::start(SerialQueue& queue)
{
    queue_ = queue.core();
    private_->queue = queue_;
    private_->io = &queue_->io;
    private_->post([p = private_] { p->begin(); });
}

void Listener::cancel()
{
    private_->post([p = private_] { p->cancel(); });
}

std::uint16_t Listener::port() const { return private_->port; }

}  // namespace ondaline::platform
