#include "platform/audio/pulse_playback.h"

#include "platform/audio/pulse_connection.h"

#include <algorithm>
#include <cstdint>

namespace ondaline::platform {

using pulse::PulseConnection;
using pulse::PulseLock;

namespace {

constexpr pa_sample_spec streamFormat{PA_SAMPLE_FLOAT32LE, 44100, 2};
constexpr std::size_t frameBytes = sizeof(float) * 2;
// Enough to ride out a late writer, short enough that volume changes and
// moves are heard soon.
constexpr pa_usec_t targetLatency = 100'000;

}  // namespace

struct PulsePlayback::Private {
    std::unique_ptr<PulseConnection> connection;
    pulse::Stream stream;
    bool interrupted = false;  // under the mainloop lock
    std::string keptOn;        // under the mainloop lock: the device chosen; "" follows the default

    // A second client of the sound server, for one move (see putBack()).
    struct MoverClose {
        void operator()(pa_context* c) const
        {
            pa_context_set_state_callback(c, nullptr, nullptr);
            pa_context_disconnect(c);
            pa_context_unref(c);
        }
    };
    mutable std::unique_ptr<pa_context, MoverClose> mover;  // under the mainloop lock
    mutable bool moverBusy = false;                         // under the mainloop lock

    // Both servers take a stream put on the default device for one that
    // follows the default, and move it whenever the default changes: one
    // on a chosen device is put back, after every move, however late: its
    // device is checked on each change of the stream or of the default,
    // as a move may come with no word of it. And a stream that was on a
    // chosen device may be left where it is by PulseAudio when "" is
    // chosen while that device is the default: it is taken to each new
    // default. On the server's thread, where nothing may be waited for; a
    // device that is gone refuses the move, and gets the stream again once
    // it is back.
    static void onMoved(pa_stream*, void* userdata) { static_cast<const Private*>(userdata)->keep(); }
    static void onServerChange(pa_context* context, pa_subscription_event_type_t event, std::uint32_t index,
                               void* userdata)
    {
        const Private& p = *static_cast<const Private*>(userdata);
        if (!p.stream) return;
        if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
            if (index == pa_stream_get_index(p.stream.get())) p.keep();
            return;
        }
        if (!p.keptOn.empty()) {
            p.keep();
            return;
        }
        pulse::Operation(pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* q) {
                const Private& self = *static_cast<const Private*>(q);
                if (info && info->default_sink_name && self.stream && self.keptOn.empty())
                    self.move(info->default_sink_name);
            },
            userdata));
    }
    // Asks the server where the stream plays now (libpulse's own record is
    // only as new as the last move it was told of), and puts it back when
    // it is elsewhere than on the chosen device.
    void keep() const
    {
        if (keptOn.empty()) return;
        pulse::Operation(pa_context_get_sink_input_info(
            connection->context(), pa_stream_get_index(stream.get()),
            [](pa_context* context, const pa_sink_input_info* input, int, void* q) {
                const Private& self = *static_cast<const Private*>(q);
                if (!input || !self.stream || input->index != pa_stream_get_index(self.stream.get())) return;
                pulse::Operation(pa_context_get_sink_info_by_index(
                    context, input->sink,
                    [](pa_context*, const pa_sink_info* sink, int, void* r) {
                        const Private& kept = *static_cast<const Private*>(r);
                        if (sink && kept.stream && !kept.keptOn.empty() && kept.keptOn != sink->name) kept.putBack();
                    },
                    q));
            },
            const_cast<Private*>(this)));
    }
    // PipeWire's pulse service takes a move to the device that it names as
    // the default for "follow the default" (the session manager then keeps
    // the stream where it is), and the default it names to a client may
    // lag behind the session manager's, or stay behind until the default
    // changes again. A stream moved off the chosen device while this
    // client is told that device is the default is therefore moved by a
    // new client, which is told the default as it is; should that move be
    // lost too, the stream's next change tries again.
    void putBack() const
    {
        pulse::Operation(pa_context_get_server_info(
            connection->context(),
            [](pa_context*, const pa_server_info* info, void* q) {
                const Private& self = *static_cast<const Private*>(q);
                if (!self.stream || self.keptOn.empty()) return;
                if (info && info->default_sink_name && self.keptOn == info->default_sink_name) self.moveAsNewClient();
                else self.move(self.keptOn);
            },
            const_cast<Private*>(this)));
    }
    void moveAsNewClient() const
    {
        if (moverBusy) return;  // it moves to the device chosen when it is in
        mover.reset(pa_context_new(pa_threaded_mainloop_get_api(connection->mainloop()), "Playback mover"));
        if (!mover) return;
        moverBusy = true;
        pa_context_set_state_callback(mover.get(), onMoverState, const_cast<Private*>(this));
        if (pa_context_connect(mover.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) moverBusy = false;
    }
    static void onMoverState(pa_context* context, void* userdata)
    {
        const Private& p = *static_cast<const Private*>(userdata);
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) p.moverBusy = false;
        if (state != PA_CONTEXT_READY) return;
        if (!p.stream || p.keptOn.empty()) {
            p.moverBusy = false;
            return;
        }
        // Closed at the next move or with the stream: not from within its
        // own callback.
        pulse::Operation(pa_context_move_sink_input_by_name(
            context, pa_stream_get_index(p.stream.get()), p.keptOn.c_str(),
            [](pa_context* c, int, void* q) {
                static_cast<const Private*>(q)->moverBusy = false;
                pa_context_disconnect(c);
            },
            userdata));
    }
    void move(const std::string& device) const
    {
        pulse::Operation(pa_context_move_sink_input_by_name(connection->context(), pa_stream_get_index(stream.get()),
                                                            device.c_str(), nullptr, nullptr));
    }

    ~Private()
    {
        if (stream) {
            PulseLock lock(*connection);
            mover.reset();
            stream.reset();
        }
        // The server's thread ends before the rest goes: its callbacks use it.
        connection.reset();
    }

    bool streamGood() const { return PA_STREAM_IS_GOOD(pa_stream_get_state(stream.get())); }
};

namespace {

// With the lock held: a stream playing on `device` (null: the server's
// default), or null when the server does not give one.
pulse::Stream startStream(const PulseConnection& connection, const char* device)
{
    pulse::Stream stream(pa_stream_new(connection.context(), "Playback", &streamFormat, nullptr));
    if (!stream) return stream;
    pa_stream* s = stream.get();
    auto* userdata = const_cast<PulseConnection*>(&connection);
    pa_stream_set_state_callback(
        s, [](pa_stream*, void* c) { static_cast<PulseConnection*>(c)->signal(); }, userdata);
    pa_stream_set_write_callback(
        s, [](pa_stream*, std::size_t, void* c) { static_cast<PulseConnection*>(c)->signal(); }, userdata);

    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(targetLatency, &streamFormat));
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    // A refused stream fails at once (a device that is not there): no waiting
    // out the time-out for it.
    const bool settled = pa_stream_connect_playback(s, device, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) ==
                             0 &&
                         connection.wait(
                             [s] {
                                 const pa_stream_state_t state = pa_stream_get_state(s);
                                 return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
                             },
                             PulseConnection::connectTimeout);
    if (!settled || pa_stream_get_state(s) != PA_STREAM_READY) stream.reset();
    return stream;
}

}  // namespace

std::unique_ptr<PulsePlayback> PulsePlayback::open(const std::string& applicationName, const std::string& deviceUID,
                                                   std::string& error)
{
    auto p = std::make_unique<Private>();
    p->connection = PulseConnection::open(applicationName, error);
    if (!p->connection) return nullptr;
    const PulseConnection& connection = *p->connection;
    PulseLock lock(connection);
    if (!deviceUID.empty()) p->stream = startStream(connection, deviceUID.c_str());
    // No device chosen, or the chosen one gone: the default, by its name. A
    // stream with no device would be put where the server last kept this
    // program's (its stream-restore); one on the default by name follows
    // the default as it changes all the same.
    if (!p->stream) {
        const std::string fallback = connection.defaultSinkName();
        if (!fallback.empty()) p->stream = startStream(connection, fallback.c_str());
    }
    if (!p->stream) p->stream = startStream(connection, nullptr);
    if (!p->stream) {
        error = "cannot start playing on the sound server: " + connection.lastError();
        return nullptr;
    }
    p->keptOn = deviceUID;
    pa_stream_set_moved_callback(p->stream.get(), Private::onMoved, p.get());
    pa_context_set_subscribe_callback(connection.context(), Private::onServerChange, p.get());
    const auto events = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                            PA_SUBSCRIPTION_MASK_SINK_INPUT);
    if (!connection.finish(pa_context_subscribe(connection.context(), events, nullptr, nullptr))) {
        error = "cannot follow the sound server's default: " + connection.lastError();
        return nullptr;
    }
    return std::unique_ptr<PulsePlayback>(new PulsePlayback(std::move(p)));
}

PulsePlayback::PulsePlayback(std::unique_ptr<Private> p) : private_(std::move(p)) {}

PulsePlayback::~PulsePlayback() = default;

bool PulsePlayback::write(const float* interleaved, std::size_t frames)
{
    Private& p = *private_;
    PulseLock lock(*p.connection);
    if (p.interrupted) return false;
    pa_stream* s = p.stream.get();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(interleaved);
    std::size_t left = frames * frameBytes;
    while (left > 0) {
        std::size_t room = 0;
        p.connection->wait(
            [&] {
                if (p.interrupted || !p.streamGood()) return true;
                room = pa_stream_writable_size(s);
                return room != static_cast<std::size_t>(-1) && room >= frameBytes;
            },
            std::nullopt);
        if (p.interrupted || !p.streamGood() || room == static_cast<std::size_t>(-1) || room < frameBytes) return false;
        const std::size_t chunk = std::min(left, room - room % frameBytes);
        if (pa_stream_write(s, bytes, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) return false;
        bytes += chunk;
        left -= chunk;
    }
    return true;
}

void PulsePlayback::interrupt()
{
    PulseLock lock(*private_->connection);
    private_->interrupted = true;
    private_->connection->signal();
}

void PulsePlayback::setVolume(float volume)
{
    const Private& p = *private_;
    PulseLock lock(*p.connection);
    pa_cvolume levels;
    pa_cvolume_set(&levels, streamFormat.channels,
                   volume > 0 ? pa_sw_volume_from_linear(std::min(volume, 1.0f)) : PA_VOLUME_MUTED);
    // Not waited for: a slider sends many, and the server applies them in order.
    pulse::Operation(pa_context_set_sink_input_volume(p.connection->context(), pa_stream_get_index(p.stream.get()),
                                                      &levels, nullptr, nullptr));
}

bool PulsePlayback::moveToDevice(const std::string& uid, std::string& error)
{
    Private& p = *private_;
    const PulseConnection& connection = *p.connection;
    PulseLock lock(connection);
    // First, or the move would be taken for the server's and undone.
    p.keptOn = uid;
    const std::string sink = uid.empty() ? connection.defaultSinkName() : uid;
    if (sink.empty()) {
        error = "the sound server names no default output device";
        return false;
    }
    int success = 0;
    const bool answered = connection.finish(pa_context_move_sink_input_by_name(
        connection.context(), pa_stream_get_index(p.stream.get()), sink.c_str(),
        [](pa_context*, int ok, void* out) { *static_cast<int*>(out) = ok; }, &success));
    if (!answered || !success) {
        error = "cannot play on \"" + sink + "\": " + connection.lastError();
        return false;
    }
    return true;
}

std::string PulsePlayback::deviceUID() const
{
    const Private& p = *private_;
    PulseLock lock(*p.connection);
    // libpulse follows every move, ours or anybody's, as the server reports it.
    const char* name = pa_stream_get_device_name(p.stream.get());
    return name ? name : std::string();
}

}  // namespace ondaline::platform
