#include "platform/audio/pulse_connection.h"

namespace ondaline::platform::pulse {

namespace {

void wake(void* connection) { static_cast<const PulseConnection*>(connection)->signal(); }

struct Timer {
    const PulseConnection* connection;
    bool expired = false;
};

void expire(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata)
{
    auto* timer = static_cast<Timer*>(userdata);
    timer->expired = true;
    timer->connection->signal();
}

}  // namespace

void StreamCloser::operator()(pa_stream* s) const
{
    pa_stream_set_state_callback(s, nullptr, nullptr);
    pa_stream_set_read_callback(s, nullptr, nullptr);
    pa_stream_set_write_callback(s, nullptr, nullptr);
    pa_stream_set_moved_callback(s, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(s))) pa_stream_disconnect(s);
    pa_stream_unref(s);
}

std::unique_ptr<PulseConnection> PulseConnection::open(const std::string& applicationName, std::string& error)
{
    std::unique_ptr<PulseConnection> connection(new PulseConnection);
    connection->mainloop_.reset(pa_threaded_mainloop_new());
    if (!connection->mainloop_) {
        error = "cannot make the sound server's event loop";
        return nullptr;
    }
    pa_context* context = pa_context_new(pa_threaded_mainloop_get_api(connection->mainloop()), applicationName.c_str());
    connection->context_.reset(context);
    if (!context) {
        error = "cannot make a sound server context";
        return nullptr;
    }
    pa_context_set_state_callback(context, onStateChange, connection.get());
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = "no sound server: " + connection->lastError();
        return nullptr;
    }
    if (pa_threaded_mainloop_start(connection->mainloop()) < 0) {
        error = "cannot start the sound server's event loop";
        return nullptr;
    }
    bool ready;
    {
        PulseLock lock(*connection);
        ready = connection->wait([context] { return pa_context_get_state(context) == PA_CONTEXT_READY; },
                                 connectTimeout);
        if (!ready) {
            error = PA_CONTEXT_IS_GOOD(pa_context_get_state(context))
                        ? "no sound server answered within " + std::to_string(connectTimeout.count() / 1000) + " s"
                        : "no sound server: " + connection->lastError();
        }
    }
    // Released outside the lock: the destructor stops the thread.
    if (!ready) return nullptr;
    return connection;
}

PulseConnection::~PulseConnection()
{
    if (!context_) return;
    if (mainloop_) {
        PulseLock lock(*this);
        pa_context_set_state_callback(context(), nullptr, nullptr);
        pa_context_set_subscribe_callback(context(), nullptr, nullptr);
        pa_context_disconnect(context());
    }
    // Ends the thread, and with it any callback that is running; the context
    // is released afterwards with nobody else using it.
    if (mainloop_) pa_threaded_mainloop_stop(mainloop());
    context_.reset();
}

void PulseConnection::onStateChange(pa_context* context, void* userdata)
{
    auto* connection = static_cast<PulseConnection*>(userdata);
    connection->signal();
    if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || !connection->lostHandler_) return;
    // Once: the context does not come back.
    const auto handler = std::move(connection->lostHandler_);
    connection->lostHandler_ = nullptr;
    handler();
}

bool PulseConnection::isConnected() const { return pa_context_get_state(context()) == PA_CONTEXT_READY; }

void PulseConnection::setLostHandler(std::function<void()> handler) { lostHandler_ = std::move(handler); }

void PulseConnection::signal() const { pa_threaded_mainloop_signal(mainloop(), 0); }

bool PulseConnection::wait(const std::function<bool()>& done, std::optional<std::chrono::milliseconds> timeout) const
{
    if (done()) return true;
    // The mainloop's thread would wait for itself.
    if (pa_threaded_mainloop_in_thread(mainloop())) return false;
    Timer timer{this};
    pa_time_event* event = nullptr;
    if (timeout) {
        const auto usec = static_cast<pa_usec_t>(std::chrono::microseconds(*timeout).count());
        event = pa_context_rttime_new(context(), pa_rtclock_now() + usec, expire, &timer);
    }
    while (!done() && !timer.expired && PA_CONTEXT_IS_GOOD(pa_context_get_state(context())))
        pa_threaded_mainloop_wait(mainloop());
    if (event) pa_threaded_mainloop_get_api(mainloop())->time_free(event);
    return done();
}

bool PulseConnection::finish(pa_operation* raw) const
{
    if (!raw) return false;
    Operation operation(raw);
    pa_operation_set_state_callback(
        raw, [](pa_operation*, void* c) { wake(c); }, const_cast<PulseConnection*>(this));
    if (!wait([raw] { return pa_operation_get_state(raw) != PA_OPERATION_RUNNING; })) {
        pa_operation_cancel(raw);
        return false;
    }
    return pa_operation_get_state(raw) == PA_OPERATION_DONE;
}

std::string PulseConnection::lastError() const { return pa_strerror(pa_context_errno(context())); }

std::unique_ptr<WatchedConnection> WatchedConnection::open(pa_subscription_mask_t mask, Wanted wanted,
                                                           std::string& error)
{
    std::unique_ptr<WatchedConnection> watched(new WatchedConnection);
    watched->wanted_ = wanted;
    watched->connection_ = PulseConnection::open("Ondaline", error);
    if (!watched->connection_) return nullptr;
    PulseConnection& connection = *watched->connection_;
    PulseLock lock(connection);
    pa_context_set_subscribe_callback(connection.context(), onEvent, watched.get());
    connection.setLostHandler([raw = watched.get()] {
        if (auto listener = raw->listener_) listener();
    });
    if (!connection.finish(pa_context_subscribe(connection.context(), mask, nullptr, nullptr))) {
        error = "cannot follow the sound server's changes: " + connection.lastError();
        return nullptr;
    }
    return watched;
}

void WatchedConnection::onEvent(pa_context*, pa_subscription_event_type_t event, std::uint32_t, void* userdata)
{
    const auto& watched = *static_cast<WatchedConnection*>(userdata);
    if (!watched.wanted_(event)) return;
    // A copy: the listener may replace itself.
    if (auto listener = watched.listener_) listener();
}

void WatchedConnection::setListener(std::function<void()> listener)
{
    PulseLock lock(*connection_);
    listener_ = std::move(listener);
}

bool WatchedConnection::isConnected() const
{
    PulseLock lock(*connection_);
    return connection_->isConnected();
}

std::string PulseConnection::defaultSinkName() const
{
    std::string name;
    const bool answered = finish(pa_context_get_server_info(
        context(),
        [](pa_context*, const pa_server_info* info, void* out) {
            if (info && info->default_sink_name) *static_cast<std::string*>(out) = info->default_sink_name;
        },
        &name));
    return answered ? name : std::string();
}

}  // namespace ondaline::platform::pulse
