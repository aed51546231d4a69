#include "platform/audio/pulse_playback.h"

#include "platform/audio/pulse_connection.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

namespace ondaline::platform {

using pulse::PulseConnection;
using pulse::PulseLock;

namespace {

using Clock = std::chrono::steady_clock;

constexpr pa_sample_spec streamFormat{PA_SAMPLE_FLOAT32LE, 44100, 2};
constexpr std::size_t frameBytes = sizeof(float) * 2;
// Enough to ride out a late writer, short enough that volume changes and
// moves are heard soon.
constexpr pa_usec_t targetLatency = 100'000;

pa_cvolume levelsOf(float volume)
{
    pa_cvolume levels;
    pa_cvolume_set(&levels, streamFormat.channels,
                   volume > 0 ? pa_sw_volume_from_linear(std::min(volume, 1.0f)) : PA_VOLUME_MUTED);
    return levels;
}

// With the lock held: a stream playing on `device` (null: the server's
// default) at `volume`, or null when the server does not give one.
pulse::Stream startStream(const PulseConnection& connection, const char* device, pa_stream_flags_t flags, float volume)
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
    // At its level from the first sample, not at the server's for a moment.
    const pa_cvolume levels = levelsOf(volume);
    // A refused stream fails at once (a device that is not there): no waiting
    // out the time-out for it.
    const bool settled = pa_stream_connect_playback(s, device, &attr,
                                                    static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | flags),
                                                    &levels, nullptr) == 0 &&
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

// A chosen device holds the stream by design, not by catching moves: the
// stream is made unmovable there (PA_STREAM_DONT_MOVE, which PipeWire's
// pulse service makes a node its session manager does not reconnect), so
// neither the server nor the session manager takes it elsewhere when the
// default changes. Should the device go, such a stream ends: a new one
// plays on the default until the device is back, then a new one on it
// again. With no device chosen ("" ) the stream follows the default. And
// while it plays, where it really plays is asked every checkInterval and any
// difference from the choice put right, said once.
struct PulsePlayback::Private {
    std::unique_ptr<PulseConnection> connection;
    pulse::Stream stream;
    bool interrupted = false;  // under the mainloop lock
    std::string chosen;        // under the mainloop lock: the device chosen; "" follows the default
    std::string pinnedTo;      // under the mainloop lock: the device the stream cannot leave, if any
    float volume = 1;          // under the mainloop lock
    // Under the mainloop lock: counts each new stream and each move asked
    // for. The waits for the server let the lock go, so the writer's look
    // begun before one of them is not acted on after it, and it does not
    // act at all while the operator's move is under way.
    std::uint64_t changes = 0;
    bool moving = false;
    // The writer's own, under the mainloop lock: when it next asks, where
    // the stream was off the default at the last ask, the difference last
    // told, and what it has to tell.
    Clock::time_point nextCheck{};
    std::string refusedBy;  // the chosen device, there, which gave no stream: not asked again until it is back
    std::string seenOff;
    std::string toldOf;
    std::string note;

    // "" on PulseAudio: a stream placed by name stays where it is when the
    // default changes, so it is taken to each new one. On the server's
    // thread, where nothing may be waited for. A stream on the default while
    // the chosen device is away follows it the same way.
    static void onServerChange(pa_context* context, pa_subscription_event_type_t, std::uint32_t, void* userdata)
    {
        const Private& p = *static_cast<const Private*>(userdata);
        if (!p.stream || !p.pinnedTo.empty()) return;
        pulse::Operation(pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* q) {
                const Private& self = *static_cast<const Private*>(q);
                if (info && info->default_sink_name && self.stream && self.pinnedTo.empty())
                    self.moveTo(info->default_sink_name);
            },
            userdata));
    }
    void moveTo(const std::string& device) const
    {
        pulse::Operation(pa_context_move_sink_input_by_name(connection->context(), pa_stream_get_index(stream.get()),
                                                            device.c_str(), nullptr, nullptr));
    }

    // With the lock held, not on the server's thread: a new stream on
    // `device`, which it cannot leave, or where that is not there on the
    // default, following it; it takes the place of the one playing. False,
    // the one playing kept, when the server gives none.
    bool reconnect(const std::string& device)
    {
        pulse::Stream fresh;
        if (!device.empty()) fresh = startStream(*connection, device.c_str(), PA_STREAM_DONT_MOVE, volume);
        const bool pinned = static_cast<bool>(fresh);
        // No device chosen, or the chosen one gone: the default, by its
        // name. A stream with no device would be put where the server last
        // kept this program's (its stream-restore).
        if (!fresh) {
            const std::string fallback = connection->defaultSinkName();
            if (!fallback.empty()) fresh = startStream(*connection, fallback.c_str(), PA_STREAM_NOFLAGS, volume);
        }
        if (!fresh) fresh = startStream(*connection, nullptr, PA_STREAM_NOFLAGS, volume);
        if (!fresh) return false;
        replaceStream(std::move(fresh), pinned ? device : std::string());
        return true;
    }

    // With the lock held, not on the server's thread: a new stream on
    // `device`, which it cannot leave, in place of the one playing, unless
    // the device gives none or the stream changed since `since`; then the
    // one playing plays on.
    bool pinTo(const std::string& device, std::optional<std::uint64_t> since = std::nullopt)
    {
        pulse::Stream fresh = startStream(*connection, device.c_str(), PA_STREAM_DONT_MOVE, volume);
        if (!fresh || (since && changes != *since)) return false;
        replaceStream(std::move(fresh), device);
        return true;
    }

    void replaceStream(pulse::Stream fresh, const std::string& pinned)
    {
        pulse::Stream old = std::move(stream);
        stream = std::move(fresh);
        pinnedTo = pinned;
        ++changes;
        old.reset();  // what it still held is not heard: a moment
        // The writer may be waiting for room in the stream it last looked
        // at, while the new one asked for its first sound before it was
        // ours and asks no more until it has had some: it looks again now.
        connection->signal();
    }

    // With the lock held: the name of the device the stream plays on, as the
    // server has it now (libpulse's own record is only as new as the last
    // move it was told of); empty when it cannot tell.
    std::string playsOn() const
    {
        std::uint32_t sink = PA_INVALID_INDEX;
        connection->finish(pa_context_get_sink_input_info(
            connection->context(), pa_stream_get_index(stream.get()),
            [](pa_context*, const pa_sink_input_info* input, int, void* out) {
                if (input) *static_cast<std::uint32_t*>(out) = input->sink;
            },
            &sink));
        std::string name;
        if (sink == PA_INVALID_INDEX) return name;
        connection->finish(pa_context_get_sink_info_by_index(
            connection->context(), sink,
            [](pa_context*, const pa_sink_info* info, int, void* out) {
                if (info && info->name) *static_cast<std::string*>(out) = info->name;
            },
            &name));
        return name;
    }
    bool deviceIsThere(const std::string& device) const
    {
        bool there = false;
        connection->finish(pa_context_get_sink_info_by_name(
            connection->context(), device.c_str(),
            [](pa_context*, const pa_sink_info* info, int, void* out) {
                if (info) *static_cast<bool*>(out) = true;
            },
            &there));
        return there;
    }

    // With the lock held, by the writer: where the stream plays, against
    // the choice. The chosen device back gets the stream again; one moved
    // off it (which no server should do), or off the default with none
    // chosen at two asks in a row (PulseAudio's following takes a moment),
    // is put back, and that is said once.
    void check()
    {
        nextCheck = Clock::now() + checkInterval;
        if (moving) return;
        const std::uint64_t since = changes;
        if (!chosen.empty() && pinnedTo != chosen) {
            // On the default while the device was away: back now? Even where
            // the stream has followed the default onto it, it is not held
            // there until it is pinned.
            const bool there = deviceIsThere(chosen);
            if (changes != since) return;
            if (!there) refusedBy.clear();
            else if (refusedBy != chosen) {
                if (pinTo(chosen, since)) note = "the player plays on " + chosen + " again, the device chosen";
                else if (changes == since) refusedBy = chosen;
            }
            return;
        }
        const std::string actual = playsOn();
        if (actual.empty() || changes != since) return;
        const std::string wanted = chosen.empty() ? connection->defaultSinkName() : chosen;
        if (wanted.empty() || actual == wanted) {
            seenOff.clear();
            toldOf.clear();
            return;
        }
        if (chosen.empty() && seenOff != actual) {
            seenOff = actual;
            return;
        }
        if (chosen.empty()) moveTo(wanted);
        else reconnect(chosen);
        const std::string difference = actual + " " + wanted;
        if (toldOf == difference) return;
        toldOf = difference;
        note = "the player's stream was on " + actual + ", not on " + wanted +
               (chosen.empty() ? ", the default" : ", the device chosen") + " — put back";
    }

    ~Private()
    {
        if (stream) {
            PulseLock lock(*connection);
            stream.reset();
        }
        // The server's thread ends before the rest goes: its callbacks use it.
        connection.reset();
    }

    bool streamGood() const { return PA_STREAM_IS_GOOD(pa_stream_get_state(stream.get())); }
};

std::unique_ptr<PulsePlayback> PulsePlayback::open(const std::string& applicationName, const std::string& deviceUID,
                                                   std::string& error)
{
    auto p = std::make_unique<Private>();
    p->connection = PulseConnection::open(applicationName, error);
    if (!p->connection) return nullptr;
    const PulseConnection& connection = *p->connection;
    PulseLock lock(connection);
    p->chosen = deviceUID;
    if (!p->reconnect(deviceUID)) {
        error = "cannot start playing on the sound server: " + connection.lastError();
        return nullptr;
    }
    p->nextCheck = Clock::now() + checkInterval;
    pa_context_set_subscribe_callback(connection.context(), Private::onServerChange, p.get());
    if (!connection.finish(pa_context_subscribe(connection.context(), PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))) {
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
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(interleaved);
    std::size_t left = frames * frameBytes;
    while (left > 0) {
        std::size_t room = 0;
        p.connection->wait(
            [&] {
                if (p.interrupted || !p.streamGood()) return true;
                room = pa_stream_writable_size(p.stream.get());
                return room != static_cast<std::size_t>(-1) && room >= frameBytes;
            },
            std::nullopt);
        if (p.interrupted) return false;
        if (!p.streamGood()) {
            // Its device gone, the server still there: the default plays
            // until the device chosen is back.
            if (!p.connection->isConnected() || !p.reconnect(p.chosen)) return false;
            if (!p.chosen.empty() && p.pinnedTo != p.chosen)
                p.note = "the player plays on the default until " + p.chosen + ", the device chosen, is back";
            continue;
        }
        if (room == static_cast<std::size_t>(-1) || room < frameBytes) return false;
        const std::size_t chunk = std::min(left, room - room % frameBytes);
        if (pa_stream_write(p.stream.get(), bytes, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) return false;
        bytes += chunk;
        left -= chunk;
    }
    if (Clock::now() >= p.nextCheck) p.check();
    return true;
}

std::string PulsePlayback::takeNote()
{
    PulseLock lock(*private_->connection);
    return std::exchange(private_->note, {});
}

void PulsePlayback::interrupt()
{
    PulseLock lock(*private_->connection);
    private_->interrupted = true;
    private_->connection->signal();
}

void PulsePlayback::setVolume(float volume)
{
    Private& p = *private_;
    PulseLock lock(*p.connection);
    p.volume = volume;
    const pa_cvolume levels = levelsOf(volume);
    // Not waited for: a slider sends many, and the server applies them in order.
    pulse::Operation(pa_context_set_sink_input_volume(p.connection->context(), pa_stream_get_index(p.stream.get()),
                                                      &levels, nullptr, nullptr));
}

bool PulsePlayback::moveToDevice(const std::string& uid, std::string& error)
{
    Private& p = *private_;
    const PulseConnection& connection = *p.connection;
    PulseLock lock(connection);
    ++p.changes;
    p.moving = true;
    struct Moved {
        Private& p;
        ~Moved() { p.moving = false; }
    } moved{p};
    if (uid.empty()) {
        // Following the default: where a chosen device held it, a new stream
        // there; then on the default, which it follows from now on.
        const std::string sink = connection.defaultSinkName();
        if (sink.empty()) {
            error = "the sound server names no default output device";
            return false;
        }
        if (!p.pinnedTo.empty() && !p.reconnect({})) {
            error = "cannot play on \"" + sink + "\": " + connection.lastError();
            return false;
        }
        p.chosen.clear();
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
    if (p.pinnedTo == uid) {
        p.chosen = uid;
        return true;
    }
    // Where the device gives no stream, the one playing plays on.
    if (!p.deviceIsThere(uid) || !p.pinTo(uid)) {
        error = "cannot play on \"" + uid +
                "\": " + (connection.lastError().empty() ? "no such device" : connection.lastError());
        return false;
    }
    p.chosen = uid;
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
