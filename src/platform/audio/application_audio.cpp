#include "platform/audio/application_audio.h"

#include "platform/audio/capture_mixer.h"
#include "platform/audio/pulse_connection.h"
#include "platform/audio/pulse_properties.h"

#include <algorithm>
#include <list>

namespace ondaline::platform {

using pulse::PulseConnection;
using pulse::PulseLock;

namespace {

constexpr const char* clientName = "Ondaline";
// PipeWire runs its graph at the shortest latency any stream asks for, down
// from its largest quantum (2048 frames as Debian ships it). A capture that
// asked for less would change the quantum of every player on the device at
// each start and stop, which PipeWire 0.3.65 does not always survive (a
// 96 kHz pw-play crashes in its converter).
// A fragment this long changes nothing and is still a small part of a second.
constexpr std::uint32_t fragmentFrames = 4096;

// With the lock held: the monitor source of the sink that plays the sink
// input; empty when the sink input is gone or paused. PipeWire never
// readies the monitor of a paused stream; it joins once it plays.
std::string monitorSourceOf(const PulseConnection& connection, std::uint32_t sinkInput)
{
    std::uint32_t sink = PA_INVALID_INDEX;
    connection.finish(pa_context_get_sink_input_info(
        connection.context(), sinkInput,
        [](pa_context*, const pa_sink_input_info* info, int eol, void* out) {
            if (eol == 0 && info && !info->corked) *static_cast<std::uint32_t*>(out) = info->sink;
        },
        &sink));
    if (sink == PA_INVALID_INDEX) return {};
    std::string monitor;
    connection.finish(pa_context_get_sink_info_by_index(
        connection.context(), sink,
        [](pa_context*, const pa_sink_info* info, int eol, void* out) {
            if (eol == 0 && info && info->monitor_source_name)
                *static_cast<std::string*>(out) = info->monitor_source_name;
        },
        &monitor));
    return monitor;
}

}  // namespace

struct ApplicationAudioCapture::Private {
    struct Input {
        Private* owner;
        std::size_t id;  // in the mixer
        std::uint32_t sinkInput;
        pulse::Stream stream;
        bool endedWhileStarting = false;
    };
    // A stream of the application that came later: its device is being
    // asked for.
    struct Joining {
        Private* owner;
        std::uint32_t sinkInput;
        bool paused = false;  // meanwhile
    };

    Format format;
    pa_sample_spec sampleFormat{};
    PlayingApplication application;
    DataHandler onData;
    EndHandler onEnd;
    std::unique_ptr<PulseConnection> connection;
    // The rest is used under the mainloop lock.
    std::vector<std::unique_ptr<Input>> inputs;
    std::vector<std::uint32_t> taken;  // the sink inputs recorded, or on their way to it
    std::list<Joining> joining;
    int lookups = 0;  // questions about new streams still unanswered
    std::unique_ptr<CaptureMixer> mixer;
    bool running = false;  // all first streams were ready; start() returned
    bool ended = false;
    bool closing = false;
    bool lastPaused = false;  // the last stream to go was paused, not gone

    // Not from within a handler: it would wait for the handler's own thread.
    ~Private()
    {
        if (!connection) return;
        {
            // Waits for a handler in progress: they all run under the lock.
            PulseLock lock(*connection);
            closing = true;
            inputs.clear();
        }
        connection.reset();
    }

    std::size_t frameBytes() const { return sizeof(float) * static_cast<std::size_t>(format.channels); }

    static void onReadable(pa_stream* s, std::size_t, void* userdata)
    {
        const Input& input = *static_cast<Input*>(userdata);
        Private& p = *input.owner;
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
            // No data with a length is a hole in the stream: nothing to hear.
            if (data && p.running && !p.ended) {
                const auto mixed = p.mixer->push(input.id, static_cast<const float*>(data), bytes / p.frameBytes());
                if (!mixed.empty() && p.onData)
                    p.onData(mixed.data(), mixed.size() / static_cast<std::size_t>(p.format.channels), p.format);
            }
            pa_stream_drop(s);
        }
    }

    // The server ends a monitor stream when the stream it follows goes away;
    // the streams are made so that it may not move them instead.
    static void onStateChange(pa_stream* s, void* userdata)
    {
        Input& input = *static_cast<Input*>(userdata);
        input.owner->connection->signal();
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) inputEnded(input);
    }

    // A server that moves one all the same (PipeWire's pulse service, when
    // asked by something else) would bring in whatever plays where it went:
    // for us that stream has ended.
    static void onMoved(pa_stream*, void* userdata) { inputEnded(*static_cast<Input*>(userdata)); }

    static void inputEnded(Input& input)
    {
        Private& p = *input.owner;
        if (!p.running) {
            // Told once the start is over, which may still be waiting on
            // the server.
            input.endedWhileStarting = true;
            return;
        }
        p.mixer->close(input.id);
        p.lastPaused = false;
        p.endIfSilent();
    }

    // A stream of the application paused (corked): it brings nothing, and
    // PulseAudio's monitor of it would bring silence. It joins again when
    // it plays, by its change.
    void paused(std::uint32_t sinkInput)
    {
        std::erase(taken, sinkInput);
        for (Joining& j : joining)
            if (j.sinkInput == sinkInput) j.paused = true;
        const auto input = std::find_if(inputs.begin(), inputs.end(), [&](const std::unique_ptr<Input>& i) {
            return i->sinkInput == sinkInput && PA_STREAM_IS_GOOD(pa_stream_get_state(i->stream.get()));
        });
        if (input == inputs.end()) return;
        mixer->close((*input)->id);
        inputs.erase(input);
        lastPaused = true;
        endIfSilent();
    }

    // Once no stream of the application is left, nor one on its way; or
    // once the server has gone, which answers nothing any more.
    void endIfSilent()
    {
        if (ended || closing || mixer->openInputs() > 0) return;
        const bool serverUp = PA_CONTEXT_IS_GOOD(pa_context_get_state(connection->context()));
        if (lookups > 0 && serverUp) return;
        ended = true;
        if (!onEnd) return;
        if (!serverUp) onEnd("the sound server went away");
        else onEnd(lastPaused ? "the application paused" : "the application stopped playing");
    }

    // A stream that came or changed (PipeWire links a new one to its device
    // a moment after announcing it).
    static void onEvent(pa_context* context, pa_subscription_event_type_t event, std::uint32_t index, void* userdata)
    {
        Private& p = *static_cast<Private*>(userdata);
        if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) return;
        if ((event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
            std::erase(p.taken, index);
            return;
        }
        // Those taken too: they may have paused.
        if (!p.running || p.ended || p.closing) return;
        p.ask(pa_context_get_sink_input_info(context, index, onStreamInfo, &p));
    }

    void ask(pa_operation* operation)
    {
        if (!operation) return;
        ++lookups;
        pa_operation_unref(operation);
    }

    // An answer about a stream: one of the application's that plays on a
    // device joins, once that device's monitor is known.
    static void onStreamInfo(pa_context* context, const pa_sink_input_info* info, int eol, void* userdata)
    {
        Private& p = *static_cast<Private*>(userdata);
        if (eol != 0 || !info) {
            --p.lookups;
            p.endIfSilent();
            return;
        }
        if (p.ended || p.closing || info->sink == PA_INVALID_INDEX) return;
        if (p.isTaken(info->index)) {
            if (info->corked) p.paused(info->index);
            return;
        }
        // A paused one is asked for again when it plays, by its change.
        if (info->corked) return;
        if (!p.application.owns(pulse::processId(info->proplist),
                                pulse::property(info->proplist, PA_PROP_APPLICATION_NAME), info->client))
            return;
        p.taken.push_back(info->index);
        Joining& joining = p.joining.emplace_back(Joining{&p, info->index});
        p.ask(pa_context_get_sink_info_by_index(context, info->sink, onDeviceInfo, &joining));
    }

    static void onDeviceInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata)
    {
        Joining& joining = *static_cast<Joining*>(userdata);
        Private& p = *joining.owner;
        if (eol == 0 && info && info->monitor_source_name && !p.ended && !p.closing && !joining.paused) {
            std::string error;
            p.addInput(joining.sinkInput, info->monitor_source_name, error);
            return;
        }
        if (eol == 0) return;
        p.joining.remove_if([&](const Joining& j) { return &j == &joining; });
        --p.lookups;
        p.endIfSilent();
    }

    bool isTaken(std::uint32_t sinkInput) const
    {
        return std::find(taken.begin(), taken.end(), sinkInput) != taken.end();
    }

    // With the lock held: a monitor stream of the sink input, recording.
    bool addInput(std::uint32_t sinkInput, const std::string& monitor, std::string& error)
    {
        // Those that ended go now, outside their own callbacks.
        std::erase_if(inputs, [](const std::unique_ptr<Input>& i) {
            return !PA_STREAM_IS_GOOD(pa_stream_get_state(i->stream.get()));
        });
        auto input = std::make_unique<Input>(Input{this, mixer->add(), sinkInput, nullptr});
        input->stream.reset(pa_stream_new(connection->context(), "Application capture", &sampleFormat, nullptr));
        pa_stream* s = input->stream.get();
        if (!s || pa_stream_set_monitor_stream(s, sinkInput) < 0) {
            mixer->close(input->id);
            error = "cannot make a capture stream: " + connection->lastError();
            return false;
        }
        pa_stream_set_state_callback(s, onStateChange, input.get());
        pa_stream_set_moved_callback(s, onMoved, input.get());
        pa_stream_set_read_callback(s, onReadable, input.get());
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = fragmentFrames * static_cast<std::uint32_t>(frameBytes());
        attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        // Without DONT_MOVE, PipeWire's pulse service keeps the stream when the
        // application's stream ends and moves it to another device's monitor,
        // whose sound would go out as the application's.
        if (pa_stream_connect_record(s, monitor.c_str(), &attr,
                                     static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE)) <
            0) {
            mixer->close(input->id);
            error = "cannot record the application's sound: " + connection->lastError();
            return false;
        }
        if (!isTaken(sinkInput)) taken.push_back(sinkInput);
        inputs.push_back(std::move(input));
        return true;
    }

    bool allReady() const
    {
        for (const auto& input : inputs)
            if (pa_stream_get_state(input->stream.get()) != PA_STREAM_READY) return false;
        return true;
    }

    bool anyFailed() const
    {
        for (const auto& input : inputs)
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(input->stream.get()))) return true;
        return false;
    }
};

std::unique_ptr<ApplicationAudioCapture> ApplicationAudioCapture::start(const PlayingApplication& application,
                                                                        Format format, DataHandler onData,
                                                                        EndHandler onEnd, std::string& error)
{
    const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(std::max(format.sampleRate, 0)),
                                      static_cast<std::uint8_t>(std::clamp(format.channels, 0, 255))};
    if (format.sampleRate <= 0 || format.channels <= 0 || format.channels > static_cast<int>(PA_CHANNELS_MAX) ||
        !pa_sample_spec_valid(&sampleFormat)) {
        error = "the sound server cannot record " + std::to_string(format.sampleRate) + " Hz with " +
                std::to_string(format.channels) + " channels";
        return nullptr;
    }
    auto p = std::make_unique<Private>();
    p->format = format;
    p->sampleFormat = sampleFormat;
    p->application = application;
    p->onData = std::move(onData);
    p->onEnd = std::move(onEnd);
    p->connection = PulseConnection::open(clientName, error);
    if (!p->connection) return nullptr;
    const PulseConnection& connection = *p->connection;
    PulseLock lock(connection);
    // At most a second of each other stream waits for the first one.
    p->mixer = std::make_unique<CaptureMixer>(static_cast<std::size_t>(format.channels),
                                              static_cast<std::size_t>(format.sampleRate));
    for (const std::uint32_t sinkInput : application.streams) {
        const std::string monitor = monitorSourceOf(connection, sinkInput);
        if (monitor.empty()) continue;  // gone or paused: nothing to record yet
        if (!p->addInput(sinkInput, monitor, error)) return nullptr;
    }
    if (p->inputs.empty()) {
        error = "\"" + application.name + "\" is not playing any more";
        return nullptr;
    }
    Private& ref = *p;
    if (!connection.wait([&ref] { return ref.allReady() || ref.anyFailed(); }, PulseConnection::connectTimeout) ||
        !p->allReady()) {
        // A stream that never got ready is no error of the server's.
        error = "cannot record the application's sound: " +
                (p->anyFailed() ? connection.lastError() : std::string("the sound server did not start it in time"));
        return nullptr;
    }
    // From now on the application's new streams join; one that came while
    // the first were set up is found by asking for them all once.
    pa_context_set_subscribe_callback(connection.context(), Private::onEvent, p.get());
    if (!connection.finish(pa_context_subscribe(connection.context(), PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr,
                                                nullptr))) {
        error = "cannot follow the application's streams: " + connection.lastError();
        return nullptr;
    }
    p->connection->setLostHandler([raw = p.get()] { raw->endIfSilent(); });
    p->running = true;
    for (const auto& input : p->inputs)
        if (input->endedWhileStarting) p->mixer->close(input->id);
    p->ask(pa_context_get_sink_input_info_list(connection.context(), Private::onStreamInfo, p.get()));
    // Ends now if every stream went meanwhile and the question was not sent.
    p->endIfSilent();
    return std::unique_ptr<ApplicationAudioCapture>(new ApplicationAudioCapture(std::move(p)));
}

ApplicationAudioCapture::ApplicationAudioCapture(std::unique_ptr<Private> p) : private_(std::move(p)) {}

ApplicationAudioCapture::~ApplicationAudioCapture() = default;

}  // namespace ondaline::platform
