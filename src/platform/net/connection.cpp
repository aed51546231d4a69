#include "platform/net/connection.h"

#include <sys/socket.h>

#include "platform/dispatch/queue_core.h"
#include "platform/dispatch/serial_queue.h"

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/ssl.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <mutex>

#ifndef TCP_FASTOPEN_CONNECT
#define TCP_FASTOPEN_CONNECT 30
#endif

namespace ondaline::platform {

namespace {

using asio::ip::tcp;
using Bytes = std::vector<std::uint8_t>;

// How long cancel() may take to send what is queued and close TLS.
constexpr auto closeBound = std::chrono::seconds(2);

bool isIPAddress(const std::string& host)
{
    in_addr v4{};
    in6_addr v6{};
    return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

}  // namespace

struct Connection::Private : std::enable_shared_from_this<Connection::Private> {
    Private(std::string h, std::uint16_t p, ConnectionOptions o) : host(std::move(h)), port(p), options(o) {}
    Private(AcceptedSocket s, ConnectionOptions o)
        : host(std::move(s.peerHost)), port(s.peerPort), options(o), acceptedFd(s.fd)
    {
        options.useTLS = false;
    }
    ~Private()
    {
        if (acceptedFd >= 0) ::close(acceptedFd);  // never taken over
    }

    const std::string host;
    const std::uint16_t port;
    ConnectionOptions options;  // fixed once constructed
    int acceptedFd = -1;        // an accepted socket not yet taken over
    StateHandler stateHandler;  // set before start

    // Weak: pending handlers inside the queue's io_context hold this object,
    // so a strong reference back would keep both alive for ever. The handle
    // (Connection) keeps the queue alive for as long as it keeps us.
    std::weak_ptr<QueueCore> queue;
    asio::io_context* io = nullptr;

    // --- everything below is touched on the queue's thread only, except
    // `outgoing`, which send() fills from any thread under sendMutex ---

    enum class Phase { created, connecting, ready, closing, failed, closed };
    Phase phase = Phase::created;
    std::string failure;

    std::optional<tcp::resolver> resolver;
    std::optional<asio::ssl::context> sslContext;
    std::optional<asio::ssl::stream<tcp::socket>> tls;
    std::optional<tcp::socket> plain;
    std::optional<asio::steady_timer> connectTimer;
    std::optional<asio::steady_timer> closeTimer;

    struct Outgoing {
        Bytes bytes;
        SendCompletion completion;
    };
    std::mutex sendMutex;
    std::deque<Outgoing> outgoing;
    Outgoing current;  // being written
    bool writing = false;
    // The socket send() may write on the caller's thread: set while it is
    // ready and nothing is queued or being written; -1 otherwise. Under
    // sendMutex.
    int directFd = -1;

    struct Receive {
        std::size_t minimum, maximum;
        ReceiveCompletion completion;
    };
    std::deque<Receive> receives;
    Bytes inbox;
    Bytes readBuffer;
    bool reading = false;
    bool endOfStream = false;
    std::optional<std::string> readError;

    // --- set-up ---

    void post(std::function<void()> task)
    {
        if (const auto q = queue.lock(); q && !q->isStopped()) asio::post(q->io, std::move(task));
    }

    void emit(const ConnectionState& state)
    {
        if (stateHandler) stateHandler(state);
    }

    tcp::socket& socket() { return tls ? tls->next_layer() : *plain; }

    void begin()
    {
        if (phase != Phase::created) return;
        phase = Phase::connecting;
        emit(ConnectionState::preparing());
        if (phase != Phase::connecting) return;  // cancelled from the handler
        if (acceptedFd >= 0) return adoptAccepted();

        connectTimer.emplace(*io, options.connectTimeout);
        connectTimer->async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (!ec) self->fail("connection timed out");
        });
        resolver.emplace(*io);
        auto onResolved = [self = shared_from_this()](const asio::error_code& ec, tcp::resolver::results_type results) {
            if (self->phase != Phase::connecting) return;
            if (ec) return self->fail(ec.message());
            self->connectTo(std::vector<tcp::endpoint>(results.begin(), results.end()), 0, {});
        };
        if (options.ipv4Only) {
            resolver->async_resolve(tcp::v4(), host, std::to_string(port), onResolved);
        } else {
            resolver->async_resolve(host, std::to_string(port), onResolved);
        }
    }

    void adoptAccepted()
    {
        plain.emplace(*io);
        asio::error_code ec;
        plain->assign(tcp::v4(), std::exchange(acceptedFd, -1), ec);
        if (ec) return fail(ec.message());
        setSocketOptions();
        becomeReady();
    }

    void makeSocket()
    {
        if (options.useTLS) {
            if (!sslContext) {
                sslContext.emplace(asio::ssl::context::tls_client);
                sslContext->set_default_verify_paths();  // honours SSL_CERT_FILE and SSL_CERT_DIR
                sslContext->set_verify_mode(asio::ssl::verify_peer);
            }
            tls.emplace(*io, *sslContext);
        } else {
            plain.emplace(*io);
        }
    }

    void setSocketOptions()
    {
        asio::error_code ignored;
        auto& s = socket();
        const int fd = s.native_handle();
        if (options.noDelay) s.set_option(tcp::no_delay(true), ignored);
        if (options.keepAlive) {
            s.set_option(asio::socket_base::keep_alive(true), ignored);
            const int interval = options.keepAliveIntervalSec, count = options.keepAliveCount;
            setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &interval, sizeof interval);
            setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
            setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
        }
        if (options.fastOpen && options.useTLS) {
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_FASTOPEN_CONNECT, &on, sizeof on);  // plain connect where refused
        }
    }

    void connectTo(std::vector<tcp::endpoint> endpoints, std::size_t index, asio::error_code lastError)
    {
        if (index >= endpoints.size()) {
            return fail(lastError ? lastError.message() : "no address found for " + host);
        }
        makeSocket();
        asio::error_code ignored;
        socket().open(endpoints[index].protocol(), ignored);
        setSocketOptions();
        const auto endpoint = endpoints[index];
        socket().async_connect(endpoint, [self = shared_from_this(), endpoints = std::move(endpoints),
                                          index](const asio::error_code& ec) mutable {
            if (self->phase != Phase::connecting) return;
            if (ec) {
                asio::error_code closeError;
                self->socket().close(closeError);
                return self->connectTo(std::move(endpoints), index + 1, ec);
            }
            self->connected();
        });
    }

    void connected()
    {
        connectTimer->cancel();
        if (!tls) return becomeReady();
        SSL* ssl = tls->native_handle();
        if (!isIPAddress(host)) {
            SSL_set_tlsext_host_name(ssl, host.c_str());
            SSL_set1_host(ssl, host.c_str());
        } else {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
        }
        tls->async_handshake(asio::ssl::stream_base::client, [self = shared_from_this()](const asio::error_code& ec) {
            if (self->phase != Phase::connecting) return;
            if (ec) return self->fail(self->describeTLSFailure(ec));
            self->becomeReady();
        });
    }

    std::string describeTLSFailure(const asio::error_code& ec)
    {
        const long verify = SSL_get_verify_result(tls->native_handle());
        if (verify != X509_V_OK) {
            return std::string("TLS certificate not trusted: ") + X509_verify_cert_error_string(verify);
        }
        return "TLS handshake failed: " + ec.message();
    }

    void becomeReady()
    {
        phase = Phase::ready;
        emit(ConnectionState::ready());
        pumpWrites();
        serveReceives();
    }

    void fail(const std::string& why)
    {
        if (phase != Phase::connecting) return;
        phase = Phase::failed;
        failure = why;
        closeSockets();
        failSends(why);
        serveReceives();
        emit(ConnectionState::failed(why));
    }

    void closeSockets()
    {
        stopDirectWrites();
        asio::error_code ignored;
        if (connectTimer) connectTimer->cancel();
        if (closeTimer) closeTimer->cancel();
        if (resolver) resolver->cancel();
        if (tls) tls->next_layer().close(ignored);
        if (plain) plain->close(ignored);
    }

    // --- sending ---

    void failSends(const std::string& why)
    {
        std::deque<Outgoing> failed;
        {
            std::lock_guard lock(sendMutex);
            failed.swap(outgoing);
        }
        for (auto& item : failed) {
            if (item.completion) item.completion(why);
        }
    }

    template <typename Handler>
    void asyncWrite(const Bytes& bytes, Handler&& handler)
    {
        if (tls) asio::async_write(*tls, asio::buffer(bytes), std::forward<Handler>(handler));
        else asio::async_write(*plain, asio::buffer(bytes), std::forward<Handler>(handler));
    }

    void stopDirectWrites()
    {
        std::lock_guard lock(sendMutex);
        directFd = -1;
    }

    void pumpWrites()
    {
        if (phase == Phase::failed || phase == Phase::closed)
            return failSends(phase == Phase::failed ? failure : "cancelled");
        if ((phase != Phase::ready && phase != Phase::closing) || writing) return;
        {
            std::lock_guard lock(sendMutex);
            if (!outgoing.empty()) {
                current = std::move(outgoing.front());
                outgoing.pop_front();
                writing = true;
            }
            const bool direct = options.writeOnCallersThread && plain && phase == Phase::ready && !writing;
            directFd = direct ? plain->native_handle() : -1;
        }
        if (!writing) {
            if (phase == Phase::closing) shutdown();
            return;
        }
        // `current` stays untouched until this write's handler has run.
        asyncWrite(current.bytes, [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
            Outgoing done = std::move(self->current);
            self->writing = false;
            if (done.completion) done.completion(ec ? std::optional<std::string>(ec.message()) : std::nullopt);
            self->pumpWrites();
        });
    }

    // --- receiving ---

    void deliver(ReceiveResult result)
    {
        auto request = std::move(receives.front());
        receives.pop_front();
        request.completion(std::move(result));
    }

    void serveReceives()
    {
        while (!receives.empty()) {
            if (phase == Phase::closing || phase == Phase::closed) {
                receives.clear();
                return;
            }
            if (phase == Phase::failed) {
                deliver({{}, false, failure});
                continue;
            }
            if (phase != Phase::ready) return;
            const auto& request = receives.front();
            const bool finished = endOfStream || readError.has_value();
            if (inbox.size() >= std::max<std::size_t>(request.minimum, 1) || (finished && !inbox.empty())) {
                const std::size_t n = std::min(inbox.size(), request.maximum);
                Bytes part(inbox.begin(), inbox.begin() + static_cast<std::ptrdiff_t>(n));
                inbox.erase(inbox.begin(), inbox.begin() + static_cast<std::ptrdiff_t>(n));
                deliver({std::move(part), false, std::nullopt});
            } else if (readError) {
                deliver({{}, false, readError});
            } else if (endOfStream) {
                deliver({{}, true, std::nullopt});
            } else {
                return startRead();
            }
        }
    }

    template <typename Handler>
    void asyncReadSome(Handler&& handler)
    {
        if (tls) tls->async_read_some(asio::buffer(readBuffer), std::forward<Handler>(handler));
        else plain->async_read_some(asio::buffer(readBuffer), std::forward<Handler>(handler));
    }

    void startRead()
    {
        if (reading) return;
        reading = true;
        readBuffer.resize(65536);
        asyncReadSome([self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
            self->reading = false;
            if (self->phase != Phase::ready) return;
            self->inbox.insert(self->inbox.end(), self->readBuffer.begin(),
                               self->readBuffer.begin() + static_cast<std::ptrdiff_t>(n));
            if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated) {
                self->endOfStream = true;
            } else if (ec) {
                self->readError = ec.message();
            }
            self->serveReceives();
        });
    }

    // --- closing ---

    void cancel()
    {
        if (phase == Phase::closing || phase == Phase::closed) return;
        if (phase != Phase::ready) return finishClose();
        phase = Phase::closing;
        stopDirectWrites();
        receives.clear();
        closeTimer.emplace(*io, closeBound);
        closeTimer->async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (!ec) self->finishClose();
        });
        pumpWrites();  // sends what is queued, then shuts down
    }

    void shutdown()
    {
        if (tls) {
            tls->async_shutdown([self = shared_from_this()](const asio::error_code&) { self->finishClose(); });
        } else {
            asio::error_code ignored;
            plain->shutdown(tcp::socket::shutdown_send, ignored);
            finishClose();
        }
    }

    void finishClose()
    {
        if (phase == Phase::closed) return;
        phase = Phase::closed;
        closeSockets();
        failSends("cancelled");
        receives.clear();
        emit(ConnectionState::cancelled());
        stateHandler = nullptr;  // nothing follows; let go of what it holds
    }
};

Connection::Connection(std::string host, std::uint16_t port, ConnectionOptions options)
    : private_(std::make_shared<Private>(std::move(host), port, options))
{
}

Connection::Connection(AcceptedSocket socket, ConnectionOptions options)
    : private_(std::make_shared<Private>(std::move(socket), options))
{
}

Connection::~Connection() { cancel(); }

void Connection::setStateHandler(StateHandler handler) { private_->stateHandler = std::move(handler); }

void Connection::start(SerialQueue& queue)
{
    queue_ = queue.core();
    private_->queue = queue_;
    private_->io = &queue_->io;
    private_->post([p = private_] { p->begin(); });
}

void Connection::send(std::vector<std::uint8_t> bytes, SendCompletion completion)
{
    {
        std::unique_lock lock(private_->sendMutex);
        if (private_->directFd >= 0) {
            // Nothing is queued or being written: the socket takes what it
            // can now, without blocking; the rest, or an error to report,
            // goes the usual way, behind nothing.
            const ssize_t written = ::send(private_->directFd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (written == static_cast<ssize_t>(bytes.size())) {
                lock.unlock();
                if (completion) completion(std::nullopt);
                return;
            }
            if (written > 0) bytes.erase(bytes.begin(), bytes.begin() + written);
            private_->directFd = -1;
        }
        private_->outgoing.push_back({std::move(bytes), std::move(completion)});
    }
    private_->post([p = private_] { p->pumpWrites(); });
}

void Connection::receive(std::size_t minimum, std::size_t maximum, ReceiveCompletion completion)
{
    private_->post([p = private_, minimum, maximum, completion = std::move(completion)]() mutable {
        p->receives.push_back({minimum, std::max(maximum, std::size_t{1}), std::move(completion)});
        p->serveReceives();
    });
}

void Connection::cancel()
{
    private_->post([p = private_] { p->cancel(); });
}

const std::string& Connection::host() const { return private_->host; }

std::uint16_t Connection::port() const { return private_->port; }

}  // namespace ondaline::platform
