#include "platform/audio/application_audio.h"

#include "platform/audio/capture_mixer.h"
#include "platform/audio/pulse_connection.h"

#include <algorithm>
#include <charconv>

namespace ondaline::platform {

using pulse::PulseConnection;
using pulse::PulseLock;

namespace {

constexpr const char* clientName = "Ondaline";
// Short fragments keep what is captured close to what is heard.
constexpr pa_usec_t fragmentDuration = 20'000;

std::string property(const pa_proplist* properties, const char* key)
{
    const char* value = pa_proplist_gets(properties, key);
    return value ? value : std::string();
}

std::int32_t processId(const std::string& text)
{
    std::int32_t pid = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), pid);
    return failure == std::errc() && end == text.data() + text.size() && pid > 0 ? pid : 0;
}

bool sameApplication(const PlayingApplication& a, const PlayingApplication& b)
{
    return a.pid != 0 || b.pid != 0 ? a.pid == b.pid : a.name == b.name;
}

// With the lock held: the monitor source of the sink that plays the sink
// input; empty when the sink input is gone.
std::string monitorSourceOf(const PulseConnection& connection, std::uint32_t sinkInput)
{
    std::uint32_t sink = PA_INVALID_INDEX;
    connection.finish(pa_context_get_sink_input_info(
        connection.context(), sinkInput,
        [](pa_context*, const pa_sink_input_info* info, int eol, void* out) {
            if (eol == 0 && info) *static_cast<std::uint32_t*>(out) = info->sink;
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

std::vector<PlayingApplication> listPlayingApplications(std::string& error)
{
    auto connection = PulseConnection::open(clientName, error);
    if (!connection) return {};
    std::vector<PlayingApplication> streams;  // one per sink input
    {
        PulseLock lock(*connection);
        const bool answered = connection->finish(pa_context_get_sink_input_info_list(
            connection->context(),
            [](pa_context*, const pa_sink_input_info* info, int eol, void* out) {
                if (eol != 0 || !info) return;
                PlayingApplication stream;
                stream.name = property(info->proplist, PA_PROP_APPLICATION_NAME);
                // Nobody could tell which application a nameless stream is.
                if (stream.name.empty()) return;
                stream.binary = property(info->proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
                stream.pid = processId(property(info->proplist, PA_PROP_APPLICATION_PROCESS_ID));
                stream.streams.push_back(info->index);
                static_cast<std::vector<PlayingApplication>*>(out)->push_back(std::move(stream));
            },
            &streams));
        if (!answered) {
            error = "the sound server did not list its playback streams: " + connection->lastError();
            return {};
        }
    }
    std::vector<PlayingApplication> applications;
    for (auto& stream : streams) {
        auto known = std::find_if(applications.begin(), applications.end(),
                                  [&](const PlayingApplication& a) { return sameApplication(a, stream); });
        if (known == applications.end()) applications.push_back(std::move(stream));
        else known->streams.push_back(stream.streams.front());
    }
    return applications;
}

struct ApplicationAudioCapture::Private {
    struct Input {
        Private* owner;
        std::size_t index;
        pulse::Stream stream;
    };

    Format format;
    DataHandler onData;
    EndHandler onEnd;
    std::unique_ptr<PulseConnection> connection;
    // The rest is used under the mainloop lock.
    std::vector<std::unique_ptr<Input>> inputs;
    std::unique_ptr<CaptureMixer> mixer;
    bool running = false;  // all streams were ready; start() returned
    bool ended = false;

    // Not from within a handler: it would wait for the handler's own thread.
    ~Private()
    {
        if (!connection) return;
        {
            // Waits for a handler in progress: they all run under the lock.
            PulseLock lock(*connection);
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
                const auto mixed = p.mixer->push(input.index, static_cast<const float*>(data), bytes / p.frameBytes());
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
        const Input& input = *static_cast<Input*>(userdata);
        input.owner->connection->signal();
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) inputEnded(input);
    }

    // A server that moves one all the same (PipeWire's pulse service, when
    // asked by something else) would bring in whatever plays where it went:
    // for us that stream has ended.
    static void onMoved(pa_stream*, void* userdata) { inputEnded(*static_cast<Input*>(userdata)); }

    static void inputEnded(const Input& input)
    {
        Private& p = *input.owner;
        if (!p.running) return;
        p.mixer->close(input.index);
        if (p.mixer->openInputs() > 0 || p.ended) return;
        p.ended = true;
        const bool serverUp = PA_CONTEXT_IS_GOOD(pa_context_get_state(p.connection->context()));
        if (p.onEnd) p.onEnd(serverUp ? "the application stopped playing" : "the sound server went away");
    }

    // With the lock held: a monitor stream of the sink input, recording.
    bool addInput(std::uint32_t sinkInput, const pa_sample_spec& sampleFormat, std::string& error)
    {
        const std::string monitor = monitorSourceOf(*connection, sinkInput);
        if (monitor.empty()) return true;  // gone meanwhile: nothing to record
        auto input = std::make_unique<Input>(Input{this, inputs.size(), nullptr});
        input->stream.reset(pa_stream_new(connection->context(), "Application capture", &sampleFormat, nullptr));
        pa_stream* s = input->stream.get();
        if (!s || pa_stream_set_monitor_stream(s, sinkInput) < 0) {
            error = "cannot make a capture stream: " + connection->lastError();
            return false;
        }
        pa_stream_set_state_callback(s, onStateChange, input.get());
        pa_stream_set_moved_callback(s, onMoved, input.get());
        pa_stream_set_read_callback(s, onReadable, input.get());
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentDuration, &sampleFormat));
        attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        // Without DONT_MOVE, PipeWire's pulse service keeps the stream when the
        // application's stream ends and moves it to another device's monitor,
        // whose sound would go out as the application's.
        if (pa_stream_connect_record(s, monitor.c_str(), &attr,
                                     static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE)) <
            0) {
            error = "cannot record the application's sound: " + connection->lastError();
            return false;
        }
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
    p->onData = std::move(onData);
    p->onEnd = std::move(onEnd);
    p->connection = PulseConnection::open(clientName, error);
    if (!p->connection) return nullptr;
    const PulseConnection& connection = *p->connection;
    PulseLock lock(connection);
    for (const std::uint32_t sinkInput : application.streams)
        if (!p->addInput(sinkInput, sampleFormat, error)) return nullptr;
    if (p->inputs.empty()) {
        error = "\"" + application.name + "\" is not playing any more";
        return nullptr;
    }
    // At most a second of each other stream waits for the first one.
    p->mixer = std::make_unique<CaptureMixer>(p->inputs.size(), static_cast<std::size_t>(format.channels),
                                              static_cast<std::size_t>(format.sampleRate));
    Private& ref = *p;
    if (!connection.wait([&ref] { return ref.allReady() || ref.anyFailed(); }, PulseConnection::connectTimeout) ||
        !p->allReady()) {
        error = "cannot record the application's sound: " + connection.lastError();
        return nullptr;
    }
    p->running = true;
    return std::unique_ptr<ApplicationAudioCapture>(new ApplicationAudioCapture(std::move(p)));
}

ApplicationAudioCapture::ApplicationAudioCapture(std::unique_ptr<Private> p) : private_(std::move(p)) {}

ApplicationAudioCapture::~ApplicationAudioCapture() = default;

}  // namespace ondaline::platform
