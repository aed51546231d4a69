// The send queue and the raw reads and writes on the RTMP connection.

#include "engine/ondaline.h"

#include "base/print.h"
#include "platform/net/connection.h"

#include <cstdio>

namespace ondaline {

namespace {

constexpr double slowSendSeconds = 5.0;

bool sendErrorsMatter(StreamState state)
{
    return state == StreamState::handshaking || state == StreamState::negotiating || state == StreamState::publishing;
}

}  // namespace

void Ondaline::sendRaw(ByteView message)
{
    const auto appended = sendQueue_.append(message);
    if (appended == SendQueue::Append::refused) return;  // stalled: the connection is being replaced
    totalBytesSent_ += message.size();
    if (appended == SendQueue::Append::nowStalled) {
        networkQueue_.async([weakSelf = weak_from_this(), epoch = currentAttempt().epoch] {
            if (const auto self = weakSelf.lock()) {
                self->handleSendCompletion("connection stalled (more than 8 MB waiting to be sent)", epoch);
            }
        });
    }
}

void Ondaline::flushSendQueue()
{
    auto batch = sendQueue_.take();
    if (!batch) return;
    // The lambdas below copy `epoch` by name (epoch = epoch): clang 14 cannot
    // capture a structured binding.
    const auto [connection, epoch] = currentAttempt();
    const std::size_t byteCount = batch->bytes.size();
    if (!connection) {
        sendQueue_.batchFinished(byteCount, batch->generation);  // dropped with no connection to take it
        return;
    }
    const double started = clock_->now();
    const std::uint64_t generation = batch->generation;
    connection->send(std::move(batch->bytes), [weakSelf = weak_from_this(), byteCount, generation, started,
                                               epoch = epoch](const std::optional<std::string>& error) {
        const auto self = weakSelf.lock();
        if (!self) return;
        self->sendQueue_.batchFinished(byteCount, generation);
        if (!error) {
            const double elapsed = self->clock_->now() - started;
            if (elapsed > slowSendSeconds) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%.1f", elapsed);
                print("Ondaline: ⚠ HEALTH: Send completion took " + std::string(seconds) + "s (" +
                      std::to_string(byteCount) + " bytes) — network congestion");
            }
        }
        self->handleSendCompletion(error, epoch);
    });
}

void Ondaline::sendImmediate(ByteView bytes)
{
    totalBytesSent_ += bytes.size();
    const auto [connection, epoch] = currentAttempt();
    if (!connection) return;
    connection->send(Bytes(bytes.begin(), bytes.end()),
                     [weakSelf = weak_from_this(), epoch = epoch](const std::optional<std::string>& error) {
                         if (const auto self = weakSelf.lock()) self->handleSendCompletion(error, epoch);
                     });
}

// Runs on the network queue. A failed send matters only while a stream is
// being set up or is live, and only for the current attempt while it is
// still open: a reset connection fails its send and its read alike, and one
// failure is one report (and one retry of the back-off).
void Ondaline::handleSendCompletion(const std::optional<std::string>& error, std::uint64_t epoch)
{
    if (!error || !isOpenAttempt(epoch)) return;
    if (sendErrorsMatter(state())) reportError("Send failed: " + *error);
}

void Ondaline::receiveExact(std::size_t count, std::function<void(std::optional<Bytes>)> handler)
{
    receive(count, count, std::move(handler));
}

void Ondaline::receiveAvailable(std::function<void(std::optional<Bytes>)> handler)
{
    receive(1, 65536, std::move(handler));
}

void Ondaline::receive(std::size_t minimum, std::size_t maximum, std::function<void(std::optional<Bytes>)> handler)
{
    const auto [connection, epoch] = currentAttempt();
    if (!connection) return;
    connection->receive(minimum, maximum,
                        [weakSelf = weak_from_this(), epoch = epoch,
                         handler = std::move(handler)](platform::ReceiveResult result) {
                            const auto self = weakSelf.lock();
                            if (!self || !self->isOpenAttempt(epoch))
                                return;  // bytes of a replaced or failed connection
                            if (result.error) {
                                print("Ondaline: Receive error: " + *result.error);
                                handler(std::nullopt);
                            } else if (result.bytes.empty()) {
                                handler(std::nullopt);  // the peer closed its side
                            } else {
                                handler(std::move(result.bytes));
                            }
                        });
}

}  // namespace ondaline
