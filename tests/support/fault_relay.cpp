#include "support/fault_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <list>
#include <optional>
#include <stdexcept>
#include <vector>

namespace ondaline::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int clientWindow = 4096;  // the kernel doubles it
constexpr int internetSegment = 1400;
constexpr std::size_t relayBuffer = 1 << 20;  // read ahead per direction while nothing throttles
constexpr auto idleWait = std::chrono::milliseconds(100);

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// Closes with an RST instead of a FIN, as a link that breaks does.
void resetClose(int fd)
{
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
}

bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;
    std::size_t offset = 0;
};

// One direction of a relayed connection: bytes read from `from` wait here
// until their time has come, then go to `to`.
struct Direction {
    Direction(int source, int destination) : from(source), to(destination) {}

    int from;
    int to;
    std::deque<Chunk> pending;
    std::size_t pendingBytes = 0;
    std::optional<Clock::time_point> closeAt;  // `from` has closed; pass that on then
    bool closed = false;                       // `to` was told
    bool blocked = false;                      // `to` takes no more for now

    bool reading() const { return !closeAt; }
};

struct Pair {
    Pair(int client, int server) : up(client, server), down(server, client) {}
    Direction up;    // client to server
    Direction down;  // server to client
    bool broken = false;

    bool done() const { return broken || (up.closed && down.closed); }
};

// The shared bandwidth of the client-to-server direction.
class TokenBucket {
public:
    void configure(std::uint64_t rate, Clock::time_point now)
    {
        if (rate == rate_) return;
        rate_ = rate;
        tokens_ = 0;
        last_ = now;
    }

    bool limited() const { return rate_ != FaultRelay::unlimited; }

    std::size_t available(Clock::time_point now)
    {
        if (!limited()) return std::numeric_limits<std::size_t>::max();
        const double burst = std::max(static_cast<double>(rate_) / 10, static_cast<double>(internetSegment));
        tokens_ = std::min(burst,
                           tokens_ + std::chrono::duration<double>(now - last_).count() * static_cast<double>(rate_));
        last_ = now;
        return static_cast<std::size_t>(tokens_);
    }

    void spend(std::size_t bytes)
    {
        if (limited()) tokens_ -= static_cast<double>(bytes);
    }

    // How much the relay reads ahead: half a second's worth when throttled,
    // so the sender feels the bottleneck as it would at a real one.
    std::size_t readAhead() const
    {
        return limited() ? std::max<std::size_t>(16 * 1024, static_cast<std::size_t>(rate_ / 2)) : relayBuffer;
    }

private:
    std::uint64_t rate_ = FaultRelay::unlimited;
    double tokens_ = 0;
    Clock::time_point last_;
};

}  // namespace

FaultRelay::FaultRelay(std::uint16_t upstreamPort)
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (listener_ < 0 || wakeFd_ < 0) throw std::runtime_error("relay cannot open its sockets");
    // Accepted sockets inherit these.
    setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &clientWindow, sizeof clientWindow);
    setsockopt(listener_, IPPROTO_TCP, TCP_MAXSEG, &internetSegment, sizeof internetSegment);
    sockaddr_in address = loopback(0);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 16) != 0) {
        close(listener_);
        close(wakeFd_);
        throw std::runtime_error("relay cannot listen");
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, upstreamPort] { run(upstreamPort); });
}

FaultRelay::~FaultRelay()
{
    stop_ = true;
    wake();
    thread_.join();
    close(listener_);
    close(wakeFd_);
}

void FaultRelay::wake()
{
    const std::uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
}

void FaultRelay::setDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(mutex_);
    settings_.delay = delay;
    wake();
}

void FaultRelay::setThrottle(std::uint64_t bytesPerSecond)
{
    std::lock_guard lock(mutex_);
    settings_.throttle = std::max<std::uint64_t>(bytesPerSecond, 1);
    wake();
}

void FaultRelay::stallAfter(std::uint64_t bytes)
{
    std::lock_guard lock(mutex_);
    settings_.passBudget = bytes;
    wake();
}

void FaultRelay::cut()
{
    std::unique_lock lock(mutex_);
    const std::uint64_t ticket = ++settings_.cutsRequested;
    wake();
    changed_.wait(lock, [&] { return cutsDone_ >= ticket; });
}

void FaultRelay::dropBytes(std::uint64_t bytes)
{
    std::lock_guard lock(mutex_);
    settings_.dropBudget += bytes;
    wake();
}

void FaultRelay::refuse(bool refusing)
{
    std::lock_guard lock(mutex_);
    settings_.refusing = refusing;
}

FaultRelay::Counters FaultRelay::counters() const
{
    std::lock_guard lock(mutex_);
    return counters_;
}

void FaultRelay::run(std::uint16_t upstreamPort)
{
    std::list<Pair> pairs;
    TokenBucket bucket;
    std::vector<char> buffer(65536);

    const auto breakPair = [](Pair& pair) {
        if (pair.broken) return;
        resetClose(pair.up.from);
        resetClose(pair.up.to);
        pair.broken = true;
    };

    // Writes what is due of one direction; false when the connection broke.
    const auto flush = [&](Direction& direction, Clock::time_point now, bool towardServer) {
        while (!direction.pending.empty() && !direction.blocked) {
            Chunk& chunk = direction.pending.front();
            if (chunk.due > now) break;
            std::size_t amount = chunk.bytes.size() - chunk.offset;
            if (towardServer) amount = std::min(amount, bucket.available(now));
            if (amount == 0) break;
            const ssize_t n = send(direction.to, chunk.bytes.data() + chunk.offset, amount, MSG_NOSIGNAL);
            if (n < 0) {
                if (!wouldBlock()) return false;
                direction.blocked = true;
                break;
            }
            const auto sent = static_cast<std::size_t>(n);
            if (towardServer) bucket.spend(sent);
            chunk.offset += sent;
            direction.pendingBytes -= sent;
            if (chunk.offset == chunk.bytes.size()) direction.pending.pop_front();
            std::lock_guard lock(mutex_);
            (towardServer ? counters_.toServer : counters_.toClient) += sent;
            changed_.notify_all();
        }
        if (direction.pending.empty() && direction.closeAt && *direction.closeAt <= now && !direction.closed) {
            shutdown(direction.to, SHUT_WR);
            direction.closed = true;
        }
        return true;
    };

    // Reads what `from` has, up to `limit`; false when the connection broke.
    const auto readInto = [&](Direction& direction, std::size_t limit, std::chrono::milliseconds delay,
                              bool fromClient) {
        if (fromClient) {
            std::lock_guard lock(mutex_);
            limit = static_cast<std::size_t>(std::min<std::uint64_t>(limit, settings_.passBudget));
        }
        if (limit == 0) return true;
        const ssize_t n = recv(direction.from, buffer.data(), std::min(limit, buffer.size()), 0);
        const auto now = Clock::now();
        if (n < 0) return wouldBlock();
        if (n == 0) {
            direction.closeAt = now + delay;
            return true;
        }
        const auto received = static_cast<std::size_t>(n);
        std::size_t skip = 0;
        if (fromClient) {
            std::lock_guard lock(mutex_);
            if (settings_.passBudget != unlimited)
                settings_.passBudget -= std::min<std::uint64_t>(settings_.passBudget, received);
            skip = static_cast<std::size_t>(std::min<std::uint64_t>(settings_.dropBudget, received));
            settings_.dropBudget -= skip;
            counters_.dropped += skip;
        }
        if (skip < received) {
            direction.pending.push_back({now + delay,
                                         std::vector<char>(buffer.begin() + long(skip), buffer.begin() + n)});
            direction.pendingBytes += received - skip;
        }
        return true;
    };

    const auto acceptOne = [&] {
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) return;
        bool refusing;
        {
            // Read now, not from the loop's earlier copy: a refuse() that
            // came while poll() waited holds for this connection already.
            std::lock_guard lock(mutex_);
            refusing = settings_.refusing;
        }
        if (refusing) {
            resetClose(client);
            std::lock_guard lock(mutex_);
            ++counters_.refused;
            changed_.notify_all();
            return;
        }
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopback(upstreamPort);
        if (server < 0 || connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            if (server >= 0) close(server);
            resetClose(client);  // the server is down: its refusal, passed on
            return;
        }
        const int on = 1;
        setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        fcntl(server, F_SETFL, fcntl(server, F_GETFL) | O_NONBLOCK);
        pairs.emplace_back(client, server);
        std::lock_guard lock(mutex_);
        ++counters_.accepted;
        changed_.notify_all();
    };

    while (!stop_) {
        Settings settings;
        {
            std::lock_guard lock(mutex_);
            settings = settings_;
            if (settings.cutsRequested > cutsDone_) {
                for (auto& pair : pairs) breakPair(pair);
                cutsDone_ = settings.cutsRequested;
                changed_.notify_all();
            }
        }
        auto now = Clock::now();
        bucket.configure(settings.throttle, now);

        for (auto& pair : pairs) {
            if (!pair.broken && (!flush(pair.up, now, true) || !flush(pair.down, now, false))) breakPair(pair);
        }
        pairs.remove_if([&](Pair& pair) {
            if (!pair.done()) return false;
            if (!pair.broken) {
                close(pair.up.from);
                close(pair.up.to);
            }
            return true;
        });

        // What to wait for, and until when.
        std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}, {listener_, POLLIN, 0}};
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(idleWait);
        const auto nextDue = [&](const Direction& direction) {
            if (!direction.pending.empty() && !direction.blocked) {
                const auto due = direction.pending.front().due;
                wait = std::min(wait, due > now ? std::chrono::ceil<std::chrono::milliseconds>(due - now)
                                                : std::chrono::milliseconds(5));  // waiting for bandwidth
            }
            if (direction.pending.empty() && direction.closeAt && !direction.closed) {
                wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(*direction.closeAt - now));
            }
        };
        const std::size_t upLimit = bucket.readAhead();
        for (auto& pair : pairs) {
            const bool readClient = pair.up.reading() && pair.up.pendingBytes < upLimit && settings.passBudget > 0;
            const bool readServer = pair.down.reading() && pair.down.pendingBytes < relayBuffer &&
                                    settings.passBudget > 0;
            fds.push_back({pair.up.from,
                           static_cast<short>((readClient ? POLLIN : 0) | (pair.down.blocked ? POLLOUT : 0)), 0});
            fds.push_back({pair.up.to, static_cast<short>((readServer ? POLLIN : 0) | (pair.up.blocked ? POLLOUT : 0)),
                           0});
            nextDue(pair.up);
            nextDue(pair.down);
        }
        if (poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(wait.count(), 0))) < 0 && errno != EINTR)
            break;

        if (fds[0].revents & POLLIN) {
            std::uint64_t ignored;
            (void)!read(wakeFd_, &ignored, sizeof ignored);
        }
        if (fds[1].revents & POLLIN) acceptOne();
        std::size_t at = 2;
        for (auto& pair : pairs) {
            if (at >= fds.size()) break;  // accepted during this round
            const pollfd& client = fds[at++];
            const pollfd& server = fds[at++];
            if (pair.broken) continue;
            if (client.revents & POLLOUT) pair.down.blocked = false;
            if (server.revents & POLLOUT) pair.up.blocked = false;
            const short gone = POLLIN | POLLHUP | POLLERR;
            bool intact = true;
            if ((client.events & POLLIN) && (client.revents & gone)) {
                intact = readInto(pair.up, upLimit - pair.up.pendingBytes, settings.delay, true);
            }
            if (intact && (server.events & POLLIN) && (server.revents & gone)) {
                intact = readInto(pair.down, relayBuffer - pair.down.pendingBytes, settings.delay, false);
            }
            if (intact && ((client.revents | server.revents) & POLLERR)) intact = false;
            if (!intact) breakPair(pair);
        }
    }

    for (auto& pair : pairs) breakPair(pair);
}

}  // namespace ondaline::test
